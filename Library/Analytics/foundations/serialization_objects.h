#pragma once
// Encodings of the identifier-level field types: currencies, curve definitions, keys,
// single dates, count vectors, and objects nested by shared pointer.
//
// A nested object of a concrete class is written as its own record ("Class" marker,
// then its fields); a null member is the "empty" marker and reads back as a null
// pointer, so the holder's own validation reports what is missing. (The five statics
// differ on purpose: a whole file marked "empty" reads back as a default object.)
//
// A member declared as an abstract base is dispatched on its dynamic class: the
// writer looks the demangled type name up, the reader the "Class" text, in the table
// of classes registered as that base (TARVEX_REGISTER_SERIALIZER_AS, serialization_io.h).
// A record marked "empty" leaves the member as it was; an unknown name throws an
// Error naming the class.
//
// Declarations only for the templates: they need object_io and are defined in
// serialization_io.h, which every serializable class's .cpp includes.
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "Analytics/foundations/serialization_fields.h"
#include "Market/currency.h"
#include "Market/discount_definition.h"
#include "Util/datetime.h"
#include "Util/key.h"

namespace tarvex::serialization {

// A shared pointer member read as a record of its declared class.
template <class T>
concept nested_class = std::is_class_v<T> && !std::is_abstract_v<T>;
// A shared pointer member read through the table of classes registered as T.
template <class T>
concept registered_base = std::is_polymorphic_v<T> && std::is_abstract_v<T>;

// --- JSON ------------------------------------------------------------------------
// Currency: its code; discount definition: its name; key: its text (all strings).
void write_json_field(json& j, const currency& c);
void read_json_field(const json& j, currency& c);
void write_json_field(json& j, const discount_definition& d);
void read_json_field(const json& j, discount_definition& d);
void write_json_field(json& j, const key& k);
void read_json_field(const json& j, key& k);
// One date: its serial number.
void write_json_field(json& j, const datetime& d);
void read_json_field(const json& j, datetime& d);
// Array of unsigned integers.
void write_json_field(json& j, const std::vector<std::size_t>& values);
void read_json_field(const json& j, std::vector<std::size_t>& values);

template <nested_class T>
void write_json_field(json& j, const std::shared_ptr<const T>& object);
template <nested_class T>
void read_json_field(const json& j, std::shared_ptr<const T>& object);
template <registered_base T>
void write_json_field(json& j, const std::shared_ptr<const T>& object);
template <registered_base T>
void read_json_field(const json& j, std::shared_ptr<const T>& object);
// Array of records, each as its element type says.
template <class T>
void write_json_field(json& j, const std::vector<std::shared_ptr<const T>>& objects);
template <class T>
void read_json_field(const json& j, std::vector<std::shared_ptr<const T>>& objects);

// --- binary ----------------------------------------------------------------------
// Strings, a double, and a u32 count followed by u64 values, in the order above.
void write_binary_field(multi_process_stream& s, const currency& c);
void read_binary_field(multi_process_stream& s, currency& c);
void write_binary_field(multi_process_stream& s, const discount_definition& d);
void read_binary_field(multi_process_stream& s, discount_definition& d);
void write_binary_field(multi_process_stream& s, const key& k);
void read_binary_field(multi_process_stream& s, key& k);
void write_binary_field(multi_process_stream& s, const datetime& d);
void read_binary_field(multi_process_stream& s, datetime& d);
void write_binary_field(multi_process_stream& s, const std::vector<std::size_t>& values);
void read_binary_field(multi_process_stream& s, std::vector<std::size_t>& values);

template <nested_class T>
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const T>& object);
template <nested_class T>
void read_binary_field(multi_process_stream& s, std::shared_ptr<const T>& object);
template <registered_base T>
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const T>& object);
template <registered_base T>
void read_binary_field(multi_process_stream& s, std::shared_ptr<const T>& object);
// A u32 count, then the records.
template <class T>
void write_binary_field(multi_process_stream& s, const std::vector<std::shared_ptr<const T>>& objects);
template <class T>
void read_binary_field(multi_process_stream& s, std::vector<std::shared_ptr<const T>>& objects);

namespace details {
// The u32 element count of a vector about to be written; refuses larger vectors.
std::uint32_t count_to_write(std::size_t size, const char* what);
// Reads a u32 count and checks that `count` items of at least `item_bytes` fit.
std::uint32_t read_count(multi_process_stream& s, std::size_t item_bytes);
// Throws: the dynamic class `name` of a member declared as `base` has no entry.
[[noreturn]] void unregistered_class(const std::string& name, const std::string& base);
// Throws, naming the stream's source: a record of class `name` where `base` is declared.
[[noreturn]] void unknown_class(const multi_process_stream& s, const std::string& name, const std::string& base);
}  // namespace details

}  // namespace tarvex::serialization
