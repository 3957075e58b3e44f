#pragma once
#include <string>
#include <typeinfo>

namespace tarvex {

// Readable form of a run-time type name ("tarvex::parameter_markovian_hjm"); used as
// the serializer registry key and as the "Class" marker, so both always agree.
std::string demangle(const char* mangled);
inline std::string demangle(const std::type_info& type) { return demangle(type.name()); }

}  // namespace tarvex
