#pragma once
#include <fstream>
#include <memory>
#include <string>

#include "input_error.h"

namespace tarvex::app {

// A file in the library's own serialization format (parameters, settings, targets);
// the library's reader validates it, and its error becomes an input_error naming the
// file.
template <class C>
std::shared_ptr<const C> read_library_file(const std::string& file, const char* what) {
  if (!std::ifstream(file)) throw input_error(file + ": cannot open the file");
  try {
    return C::read_from_json(file);
  } catch (const std::exception& e) {
    throw input_error(file + ": not a valid " + what + " file (" + e.what() + ")");
  }
}

}  // namespace tarvex::app
