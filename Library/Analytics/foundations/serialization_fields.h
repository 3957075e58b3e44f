#pragma once
// Encodings of the field types shared by every configuration object, in JSON and in
// binary. Readers never trust a count: binary counts are checked against the bytes
// left before anything is allocated, and JSON arrays are probed before a matrix is
// sized from its "rows" and "columns".
//
// Numbers must fit where they go: an integer field takes an integer (or an integral
// float) inside its type's range, and the binary readers refuse non-finite doubles
// and strings that are not UTF-8, which the JSON form cannot hold, so both forms
// accept the same objects.
//
// A calendar or a day count convention marked "empty" reads back as the default
// object (a weekend calendar; ACT/365F without calendar), never as a null pointer,
// so models can always ask the convention for year fractions. A convention written
// without a calendar therefore reads back holding the default calendar; the year
// fractions are unchanged.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "Core/multi_process_stream.h"
#include "Util/calendar.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Vectorization/matrix.h"

namespace tarvex::serialization {

using json = nlohmann::ordered_json;

inline constexpr const char* empty_marker = "empty";

// --- JSON ------------------------------------------------------------------------
void write_json_field(json& j, const matrix<double>& m);
void read_json_field(const json& j, matrix<double>& m);
void write_json_field(json& j, const std::vector<datetime>& dates);  // null when empty
void read_json_field(const json& j, std::vector<datetime>& dates);
void write_json_field(json& j, const std::vector<double>& values);
void read_json_field(const json& j, std::vector<double>& values);
void write_json_field(json& j, const std::shared_ptr<const calendar>& c);
void read_json_field(const json& j, std::shared_ptr<const calendar>& c);
void write_json_field(json& j, const std::shared_ptr<const day_count_convention>& d);
void read_json_field(const json& j, std::shared_ptr<const day_count_convention>& d);

template <class T>
  requires(std::is_arithmetic_v<T> || std::is_enum_v<T>)
void write_json_field(json& j, const T& v) {
  if constexpr (std::is_enum_v<T>)
    j = static_cast<std::int32_t>(v);
  else
    j = v;
}
namespace details {
// The integer j holds, refused unless it lies in [lo, hi]; a non-number fails with the
// JSON library's type error.
std::int64_t json_integer(const json& j, std::int64_t lo, std::int64_t hi);
std::uint64_t json_unsigned(const json& j, std::uint64_t hi = std::numeric_limits<std::uint64_t>::max());
}  // namespace details

template <class T>
  requires(std::is_arithmetic_v<T> || std::is_enum_v<T>)
void read_json_field(const json& j, T& v) {
  if constexpr (std::is_enum_v<T>) {
    using raw = std::conditional_t<sizeof(T) == sizeof(std::int16_t), std::int16_t, std::int32_t>;
    v = static_cast<T>(
        static_cast<raw>(details::json_integer(j, std::numeric_limits<raw>::min(), std::numeric_limits<raw>::max())));
  } else if constexpr (std::is_same_v<T, bool> || std::is_floating_point_v<T>) {
    v = j.get<T>();
  } else if constexpr (std::is_unsigned_v<T>) {
    v = static_cast<T>(details::json_unsigned(j, std::numeric_limits<T>::max()));
  } else {
    v = static_cast<T>(details::json_integer(j, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
  }
}
inline void write_json_field(json& j, const std::string& v) { j = v; }
inline void read_json_field(const json& j, std::string& v) { v = j.get<std::string>(); }

// --- binary ----------------------------------------------------------------------
void write_binary_field(multi_process_stream& s, const matrix<double>& m);
void read_binary_field(multi_process_stream& s, matrix<double>& m);
void write_binary_field(multi_process_stream& s, const std::vector<datetime>& dates);
void read_binary_field(multi_process_stream& s, std::vector<datetime>& dates);
void write_binary_field(multi_process_stream& s, const std::vector<double>& values);
void read_binary_field(multi_process_stream& s, std::vector<double>& values);
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const calendar>& c);
void read_binary_field(multi_process_stream& s, std::shared_ptr<const calendar>& c);
void write_binary_field(multi_process_stream& s, const std::shared_ptr<const day_count_convention>& d);
void read_binary_field(multi_process_stream& s, std::shared_ptr<const day_count_convention>& d);

// Enumerations are signed 32-bit, except 16-bit ones (device codes), which keep
// their width.
template <class T>
  requires(std::is_enum_v<T>)
void write_binary_field(multi_process_stream& s, const T& v) {
  if constexpr (sizeof(T) == sizeof(std::int16_t))
    s << static_cast<std::int16_t>(v);
  else
    s << static_cast<std::int32_t>(v);
}
template <class T>
  requires(std::is_enum_v<T>)
void read_binary_field(multi_process_stream& s, T& v) {
  if constexpr (sizeof(T) == sizeof(std::int16_t)) {
    std::int16_t raw = 0;
    s >> raw;
    v = static_cast<T>(raw);
  } else {
    std::int32_t raw = 0;
    s >> raw;
    v = static_cast<T>(raw);
  }
}
template <class T>
  requires(std::is_arithmetic_v<T>)
void write_binary_field(multi_process_stream& s, const T& v) {
  s << v;
}
namespace details {
// Throws, naming the stream's source, unless every value is finite.
void require_finite(const multi_process_stream& s, const double* values, std::size_t count);
// A string, refused unless it is UTF-8.
std::string read_text(multi_process_stream& s);
}  // namespace details

template <class T>
  requires(std::is_arithmetic_v<T>)
void read_binary_field(multi_process_stream& s, T& v) {
  s >> v;
  if constexpr (std::is_floating_point_v<T>) details::require_finite(s, &v, 1);
}
inline void write_binary_field(multi_process_stream& s, const std::string& v) { s << v; }
inline void read_binary_field(multi_process_stream& s, std::string& v) { v = details::read_text(s); }

}  // namespace tarvex::serialization
