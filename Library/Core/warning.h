#pragma once
#include <string>

#include "Core/source_location.h"

namespace tarvex {

// Non-fatal warnings: logged at warning verbosity and counted.
struct Warning {
  // `once` true suppresses repeats of the same location and message.
  static void warn(const SourceLocation& location, const std::string& message, bool once = false);
  static unsigned long long count() noexcept;
};

}  // namespace tarvex
