#pragma once
// Declares the five file/text statics of a configuration class. Light on purpose: no
// JSON here, so widely included class headers stay cheap. Definitions come from
// TARVEX_DEFINE_SERIALIZATION (serialization_io.h) in the class's .cpp.
#include <memory>
#include <string>

namespace tarvex::serialization {
struct object_io;
}

#define TARVEX_SERIALIZABLE(C)                                                             \
 public:                                                                                   \
  static void write_to_json(const std::string& path, const std::shared_ptr<const C>& object);  \
  static std::shared_ptr<const C> read_from_json(const std::string& path);                 \
  static std::string json_to_string(const std::shared_ptr<const C>& object);               \
  static void write_to_binary(const std::string& path, const std::shared_ptr<const C>& object); \
  static std::shared_ptr<const C> read_from_binary(const std::string& path);               \
                                                                                           \
 private:                                                                                  \
  friend struct ::tarvex::serialization::object_io;
