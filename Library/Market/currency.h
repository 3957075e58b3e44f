#pragma once
#include <cstdint>
#include <string>

namespace tarvex::serialization {
struct object_io;
}

namespace tarvex {

// An ISO 4217 currency: three upper-case letters ("USD", "EUR"). Two currencies with
// the same code are the same currency; identity is the code.
class currency {
 public:
  explicit currency(std::string code);

  const std::string& code() const { return code_; }
  const std::string& to_string() const { return code_; }
  std::uint64_t hash() const;
  bool operator==(const currency&) const = default;

 private:
  friend struct ::tarvex::serialization::object_io;
  friend class discount_id;
  friend class default_id;
  currency() = default;
  void initialize();

  std::string code_;
};

}  // namespace tarvex
