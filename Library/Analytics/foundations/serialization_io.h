#pragma once
// The object pattern shared by every configuration class: a "Class" marker (or the
// "empty" marker for a null object), then the class's fields in its own order, then
// initialize(). Include only from .cpp files.
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "Core/demangle.h"
#include "Analytics/foundations/serialization_fields.h"
#include "Analytics/foundations/serialization_objects.h"
#include "Serialization/access.h"
#include "Serialization/registry.h"
#include "Serialization/serialization_registry.h"

namespace tarvex::serialization {

// --- walkers: a class's fields(w) calls w(key, field) in file order ---------------
// They sit after every encoding header: the field functions are found by ordinary
// lookup here, not by argument-dependent lookup (the field types live in tarvex).
// optional(key, field): a field added to a format after files were written; it is
// always written, and read only when present (JSON: the key exists; binary: bytes are
// left, so such fields come last in a record that is a file of its own).
struct json_writer {
  json& j;
  template <class T>
  void operator()(const char* key, const T& field) {
    write_json_field(j[key], field);
  }
  template <class T>
  void optional(const char* key, const T& field) {
    (*this)(key, field);
  }
};
struct json_reader {
  const json& j;
  template <class T>
  void operator()(const char* key, T& field) {
    read_json_field(j.at(key), field);
  }
  template <class T>
  void optional(const char* key, T& field) {
    if (j.contains(key)) read_json_field(j.at(key), field);
  }
};
struct binary_writer {
  multi_process_stream& s;
  template <class T>
  void operator()(const char*, const T& field) {
    write_binary_field(s, field);
  }
  template <class T>
  void optional(const char* key, const T& field) {
    (*this)(key, field);
  }
};
struct binary_reader {
  multi_process_stream& s;
  template <class T>
  void operator()(const char*, T& field) {
    read_binary_field(s, field);
  }
  template <class T>
  void optional(const char*, T& field) {
    if (s.remaining() > 0) read_binary_field(s, field);
  }
};

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
    auto object = read_json_or_null<C>(j);
    return object ? object : std::shared_ptr<C>(new C());
  }

  // As read_json, but "empty" gives a null pointer (members: serialization_objects.h).
  template <class C>
  static std::shared_ptr<C> read_json_or_null(const json& j) {
    if (j.at("Class").get<std::string>() == empty_marker) return nullptr;
    std::shared_ptr<C> object(new C());
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
    auto object = read_binary_or_null<C>(s);
    return object ? object : std::shared_ptr<C>(new C());
  }

  template <class C>
  static std::shared_ptr<C> read_binary_or_null(multi_process_stream& s) {
    std::string name;
    s >> name;
    if (name == empty_marker) return nullptr;
    return read_binary_fields<C>(s);
  }

  // The record after its marker, which the caller has read.
  template <class C>
  static std::shared_ptr<C> read_binary_fields(multi_process_stream& s) {
    std::shared_ptr<C> object(new C());
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

// How members declared as the abstract class Base are written and read, per dynamic
// class. The process-wide registries hand their functions a holder of the concrete
// class; a member holds a std::shared_ptr<const Base>, and reinterpreting one holder
// type as the other is undefined, so these entries take the base holder instead.
template <class Base>
struct base_serializer {
  void (*write_json)(json&, const Base&);
  std::shared_ptr<const Base> (*read_json)(const json&);
  void (*write_binary)(multi_process_stream&, const Base&);
  // The record after its marker.
  std::shared_ptr<const Base> (*read_binary_fields)(multi_process_stream&);
};

// The classes registered as Base, by demangled name; filled at load like the others.
template <class Base>
Registry<base_serializer<Base>>& base_serializers() {
  static Registry<base_serializer<Base>> registry;
  return registry;
}

// Enters C in both registries and in Base's table, all under its demangled name.
template <class C, class Base>
  requires std::is_base_of_v<Base, C>
bool register_serializers_as(const std::string& key) {
  register_serializers<C>(key);
  // The dynamic type was looked up by name, so the downcasts below are exact.
  base_serializers<Base>().Register(
      key, base_serializer<Base>{
               [](json& j, const Base& object) { object_io::write_json<C>(j, &static_cast<const C&>(object)); },
               [](const json& j) -> std::shared_ptr<const Base> { return object_io::read_json<C>(j); },
               [](multi_process_stream& s, const Base& object) {
                 object_io::write_binary<C>(s, &static_cast<const C&>(object));
               },
               [](multi_process_stream& s) -> std::shared_ptr<const Base> {
                 return object_io::read_binary_fields<C>(s);
               }});
  return true;
}

// --- nested members (declared in serialization_objects.h) --------------------------

template <nested_class T>
void write_json_field(json& j, const std::shared_ptr<const T>& object) {
  object_io::write_json<T>(j, object.get());
}
template <nested_class T>
void read_json_field(const json& j, std::shared_ptr<const T>& object) {
  object = object_io::read_json_or_null<T>(j);
}
template <nested_class T>
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const T>& object) {
  object_io::write_binary<T>(s, object.get());
}
template <nested_class T>
void read_binary_field(multi_process_stream& s, std::shared_ptr<const T>& object) {
  object = object_io::read_binary_or_null<T>(s);
}

template <registered_base T>
void write_json_field(json& j, const std::shared_ptr<const T>& object) {
  if (!object) {
    j = json::object();
    j["Class"] = empty_marker;
    return;
  }
  const auto name = demangle(typeid(*object));
  const auto* entry = base_serializers<T>().find(name);
  if (entry == nullptr) details::unregistered_class(name, demangle(typeid(T)));
  entry->write_json(j, *object);
}
template <registered_base T>
void read_json_field(const json& j, std::shared_ptr<const T>& object) {
  const auto name = j.at("Class").get<std::string>();
  if (name == empty_marker) return;
  const auto* entry = base_serializers<T>().find(name);
  if (entry == nullptr) details::unregistered_class(name, demangle(typeid(T)));
  object = entry->read_json(j);
}
template <registered_base T>
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const T>& object) {
  if (!object) {
    s << std::string(empty_marker);
    return;
  }
  const auto name = demangle(typeid(*object));
  const auto* entry = base_serializers<T>().find(name);
  if (entry == nullptr) details::unregistered_class(name, demangle(typeid(T)));
  entry->write_binary(s, *object);
}
template <registered_base T>
void read_binary_field(multi_process_stream& s, std::shared_ptr<const T>& object) {
  std::string name;
  s >> name;
  if (name == empty_marker) return;
  const auto* entry = base_serializers<T>().find(name);
  if (entry == nullptr) details::unknown_class(s, name, demangle(typeid(T)));
  object = entry->read_binary_fields(s);
}

template <class T>
void write_json_field(json& j, const std::vector<std::shared_ptr<const T>>& objects) {
  j = json::array();
  for (const auto& object : objects) {
    json record;
    write_json_field(record, object);
    j.push_back(std::move(record));
  }
}
template <class T>
void read_json_field(const json& j, std::vector<std::shared_ptr<const T>>& objects) {
  const auto& array = j.get_ref<const json::array_t&>();
  std::vector<std::shared_ptr<const T>> out(array.size());
  for (std::size_t i = 0; i < out.size(); ++i) read_json_field(array[i], out[i]);
  objects = std::move(out);
}
template <class T>
void write_binary_field(multi_process_stream& s, const std::vector<std::shared_ptr<const T>>& objects) {
  s << details::count_to_write(objects.size(), "records");
  for (const auto& object : objects) write_binary_field(s, object);
}
template <class T>
void read_binary_field(multi_process_stream& s, std::vector<std::shared_ptr<const T>>& objects) {
  // Every record starts with its marker string, whose length alone takes 8 bytes.
  const auto count = details::read_count(s, sizeof(std::uint64_t));
  std::vector<std::shared_ptr<const T>> out(count);
  for (auto& object : out) read_binary_field(s, object);
  objects = std::move(out);
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

// The same for a class also held through members declared as its abstract base B.
#define TARVEX_REGISTER_SERIALIZER_AS(C, B)                                                    \
  namespace {                                                                                  \
  [[maybe_unused]] const bool registered_##C =                                                 \
      ::tarvex::serialization::register_serializers_as<C, B>(::tarvex::demangle(typeid(C)));  \
  }
