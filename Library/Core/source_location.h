#pragma once
#include <string>

namespace tarvex {

// Where a failure was raised: function name, source path (under Library/, without
// extension) and line.
struct SourceLocation {
  std::string function;
  std::string file;
  int line = 0;
};

}  // namespace tarvex
