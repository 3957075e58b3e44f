#include "Core/demangle.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace tarvex {

std::string demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(mangled);
}

}  // namespace tarvex
