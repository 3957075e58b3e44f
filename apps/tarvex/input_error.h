#pragma once
#include <stdexcept>
#include <string>

namespace tarvex::app {

// A problem with what the user gave us (arguments, files, fields): printed as one line
// and answered with exit status 2, as opposed to a failure inside the library.
class input_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarvex::app
