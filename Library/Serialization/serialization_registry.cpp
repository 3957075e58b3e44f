#include "Serialization/serialization_registry.h"

namespace tarvex {

// Function-local statics: safe to use from other libraries' static initialisers.
Registry<json_serializer>& JsonSerializationRegistry() {
  static Registry<json_serializer> registry;
  return registry;
}

Registry<binary_serializer>& BinarySerializationRegistry() {
  static Registry<binary_serializer> registry;
  return registry;
}

}  // namespace tarvex
