#pragma once
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace tarvex {

// A name used to look up market data and models; compares and hashes by its text.
class key {
 public:
  // The empty key.
  key() = default;
  // A key with the given text.
  key(std::string text) : text_(std::move(text)) {}
  // A key with the given text; expects a non-null pointer.
  key(const char* text);
  // Replaces the text.
  key& operator=(std::string text);

  // The text.
  const std::string& to_string() const { return text_; }
  // True for the empty text.
  bool empty() const { return text_.empty(); }
  // hash(*this, 0).
  std::uint64_t hash() const { return hash(*this, 0); }
  // The seed with the key's text folded in.
  static std::uint64_t hash(const key& k, std::uint64_t seed);

  bool operator==(const key&) const = default;
  auto operator<=>(const key&) const = default;

 private:
  std::string text_;
};

}  // namespace tarvex

template <>
struct std::hash<tarvex::key> {
  std::size_t operator()(const tarvex::key& k) const noexcept { return static_cast<std::size_t>(k.hash()); }
};
