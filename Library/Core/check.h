#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "Core/error.h"

namespace tarvex::details {

// Throws Error; `file` may be __FILE__: it is cut to the path under Library/ and the
// extension is dropped, so messages do not depend on where the tree was built.
[[noreturn]] void check_fail(const char* function, const char* file, int line, const std::string& message);

std::string source_path(std::string_view file);

void append(std::string& out, std::string_view text);
void append(std::string& out, const char* text);
void append(std::string& out, const std::string& text);
void append(std::string& out, double value);  // shortest text that reads back exactly
void append(std::string& out, long long value);
void append(std::string& out, unsigned long long value);
void append(std::string& out, char value);
void append(std::string& out, bool value);

template <class T>
void append_any(std::string& out, const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    append(out, value);
  } else if constexpr (std::is_same_v<T, char>) {
    append(out, value);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    append(out, static_cast<long long>(value));
  } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
    if constexpr (std::is_enum_v<T>)
      append(out, static_cast<long long>(value));
    else
      append(out, static_cast<unsigned long long>(value));
  } else if constexpr (std::is_floating_point_v<T>) {
    append(out, static_cast<double>(value));
  } else {
    append(out, value);
  }
}

// Concatenates labels and numbers without separators.
template <class... A>
std::string concat(const A&... parts) {
  std::string out;
  (append_any(out, parts), ...);
  return out;
}

}  // namespace tarvex::details

// Precondition: "Expected <cond> to be true, but got false.  " followed by the detail
// parts (labels and numbers, concatenated). The message is built only on failure.
#define TARVEX_CHECK(cond, ...)                                                               \
  do {                                                                                        \
    if (!(cond)) [[unlikely]]                                                                 \
      ::tarvex::details::check_fail(__func__, __FILE__, __LINE__,                             \
                                    ::tarvex::details::concat("Expected " #cond               \
                                                              " to be true, but got false.  " \
                                                              __VA_OPT__(, ) __VA_ARGS__));   \
  } while (false)

// Precondition with a fixed message text.
#define TARVEX_CHECK_TEXT(cond, ...)                                                             \
  do {                                                                                           \
    if (!(cond)) [[unlikely]]                                                                    \
      ::tarvex::details::check_fail(__func__, __FILE__, __LINE__, ::tarvex::details::concat(__VA_ARGS__)); \
  } while (false)

// Unconditional failure with a fixed message text.
#define TARVEX_FAIL(...) \
  ::tarvex::details::check_fail(__func__, __FILE__, __LINE__, ::tarvex::details::concat(__VA_ARGS__))
