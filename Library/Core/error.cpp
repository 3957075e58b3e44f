#include "Core/error.h"

#include <utility>

namespace tarvex {

Error::Error(SourceLocation location, std::string message)
    : location_(std::move(location)), message_(std::move(message)) {}

std::string Error::full_text() const {
  return location_.file + ":" + std::to_string(location_.line) + " " + location_.function + ": " + message_;
}

}  // namespace tarvex
