#pragma once
#include <exception>
#include <string>

#include "Core/source_location.h"

namespace tarvex {

// The library's exception: what() is the message alone so callers can compare texts
// exactly; location() tells where it was raised.
class Error : public std::exception {
 public:
  Error(SourceLocation location, std::string message);
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const SourceLocation& location() const noexcept { return location_; }
  // "path:line function: message", for logs.
  std::string full_text() const;

 private:
  SourceLocation location_;
  std::string message_;
};

// Raised by operations a class cannot serve; the function name is the operation.
class NotImplementedError : public Error {
 public:
  using Error::Error;
};

}  // namespace tarvex
