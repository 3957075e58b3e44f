#pragma once
// The object pattern shared by every configuration class: a "Class" marker (or the
// "empty" marker for a null object), then the class's fields in its own order, then
// initialize(). Include only from .cpp files.
#include <memory>
#include <string>
#include <typeinfo>

#include "Core/demangle.h"
#include "Analytics/foundations/serialization_fields.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex::serialization {

// Friend of every serializable class: reaches its private default constructor,
// initialize() and static fields(self, walker).
struct object_io {
  template <class C>
  static void write_json(json& j, const C* object) {
    if (object == nullptr) {
      j["Class"] = empty_marker;
      return;
    }
    j["Class"] = demangle(typeid(*object));
    json_writer w{j};
    C::fields(*object, w);
  }

  // The marker's text is not compared with C's name: the context fixes the class.
  template <class C>
  static std::shared_ptr<C> read_json(const json& j) {
    const auto name = j.at("Class").get<std::string>();
    std::shared_ptr<C> object(new C());
    if (name == empty_marker) return object;
    json_reader r{j};
    C::fields(*object, r);
    object->initialize();
    return object;
  }

  template <class C>
  static void write_binary(multi_process_stream& s, const C* object) {
    if (object == nullptr) {
      s << std::string(empty_marker);
      return;
    }
    s << demangle(typeid(*object));
    binary_writer w{s};
    C::fields(*object, w);
  }

  template <class C>
  static std::shared_ptr<C> read_binary(multi_process_stream& s) {
    std::string name;
    s >> name;
    std::shared_ptr<C> object(new C());
    if (name == empty_marker) return object;
    binary_reader r{s};
    C::fields(*object, r);
    object->initialize();
    return object;
  }

  // The registry form: `holder` points at a std::shared_ptr<const C>.
  template <class C>
  static void registered_json(json& j, void* holder, bool read) {
    auto& h = *static_cast<std::shared_ptr<const C>*>(holder);
    if (read)
      h = read_json<C>(j);
    else
      write_json<C>(j, h.get());
  }
  template <class C>
  static void registered_binary(multi_process_stream& s, void* holder, bool read) {
    auto& h = *static_cast<std::shared_ptr<const C>*>(holder);
    if (read)
      h = read_binary<C>(s);
    else
      write_binary<C>(s, h.get());
  }
};

// Enters C in both registries under its demangled name.
template <class C>
bool register_serializers(const std::string& key) {
  JsonSerializationRegistry().Register(key, &object_io::registered_json<C>);
  BinarySerializationRegistry().Register(key, &object_io::registered_binary<C>);
  return true;
}

template <class C>
void write_to_json(const std::string& path, const std::shared_ptr<const C>& object) {
  json document;
  object_io::write_json<C>(document["root"], object.get());
  access::write_json(path, document);
}

template <class C>
std::shared_ptr<const C> read_from_json(const std::string& path) {
  json document;
  access::read_json(path, document);
  return object_io::read_json<C>(document.at("root"));
}

template <class C>
std::string json_to_string(const std::shared_ptr<const C>& object) {
  json j;
  object_io::write_json<C>(j, object.get());
  return j.dump(2);
}

template <class C>
void write_to_binary(const std::string& path, const std::shared_ptr<const C>& object) {
  multi_process_stream s;
  object_io::write_binary<C>(s, object.get());
  access::write_binary(path, s.GetRawData());
}

template <class C>
std::shared_ptr<const C> read_from_binary(const std::string& path) {
  std::vector<unsigned char> bytes;
  access::read_binary(path, bytes);
  multi_process_stream s;
  s.SetRawData(std::move(bytes));
  s.SetSourceName(path);
  return object_io::read_binary<C>(s);
}

}  // namespace tarvex::serialization

// Defines the five statics declared by TARVEX_SERIALIZABLE(C).
#define TARVEX_DEFINE_SERIALIZATION(C)                                                                    \
  void C::write_to_json(const std::string& path, const std::shared_ptr<const C>& object) {                \
    ::tarvex::serialization::write_to_json<C>(path, object);                                              \
  }                                                                                                       \
  std::shared_ptr<const C> C::read_from_json(const std::string& path) {                                   \
    return ::tarvex::serialization::read_from_json<C>(path);                                              \
  }                                                                                                       \
  std::string C::json_to_string(const std::shared_ptr<const C>& object) {                                 \
    return ::tarvex::serialization::json_to_string<C>(object);                                            \
  }                                                                                                       \
  void C::write_to_binary(const std::string& path, const std::shared_ptr<const C>& object) {              \
    ::tarvex::serialization::write_to_binary<C>(path, object);                                            \
  }                                                                                                       \
  std::shared_ptr<const C> C::read_from_binary(const std::string& path) {                                 \
    return ::tarvex::serialization::read_from_binary<C>(path);                                            \
  }

// One line per registered class, in its .cpp: fills both registries at load time.
#define TARVEX_REGISTER_SERIALIZER(C)                                                 \
  namespace {                                                                         \
  [[maybe_unused]] const bool registered_##C =                                        \
      ::tarvex::serialization::register_serializers<C>(::tarvex::demangle(typeid(C))); \
  }
