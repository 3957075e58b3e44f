#include "Analytics/foundations/serialization_objects.h"

#include <cstdint>
#include <limits>

#include "Core/check.h"

namespace tarvex::serialization {

// --- JSON ------------------------------------------------------------------------

// The value types validate themselves on construction, so a bad code or an empty
// name in a file fails with the class's own message.
void write_json_field(json& j, const currency& c) { j = c.code(); }
void read_json_field(const json& j, currency& c) { c = currency(j.get<std::string>()); }

void write_json_field(json& j, const discount_definition& d) { j = d.name(); }
void read_json_field(const json& j, discount_definition& d) { d = discount_definition(j.get<std::string>()); }

void write_json_field(json& j, const key& k) { j = k.to_string(); }
void read_json_field(const json& j, key& k) { k = key(j.get<std::string>()); }

void write_json_field(json& j, const datetime& d) { j = d.value(); }
void read_json_field(const json& j, datetime& d) { d = datetime(j.get<double>()); }

void write_json_field(json& j, const std::vector<std::size_t>& values) {
  j = json::array();
  for (const auto v : values) j.push_back(static_cast<std::uint64_t>(v));
}

void read_json_field(const json& j, std::vector<std::size_t>& values) {
  const auto& array = j.get_ref<const json::array_t&>();
  std::vector<std::size_t> out(array.size());
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::size_t>(details::json_unsigned(array[i], std::numeric_limits<std::size_t>::max()));
  values = std::move(out);
}

// --- binary ----------------------------------------------------------------------

void write_binary_field(multi_process_stream& s, const currency& c) { s << c.code(); }
void read_binary_field(multi_process_stream& s, currency& c) {
  c = currency(details::read_text(s));
}

void write_binary_field(multi_process_stream& s, const discount_definition& d) { s << d.name(); }
void read_binary_field(multi_process_stream& s, discount_definition& d) {
  d = discount_definition(details::read_text(s));
}

void write_binary_field(multi_process_stream& s, const key& k) { s << k.to_string(); }
void read_binary_field(multi_process_stream& s, key& k) {
  k = key(details::read_text(s));
}

void write_binary_field(multi_process_stream& s, const datetime& d) { s << d.value(); }
void read_binary_field(multi_process_stream& s, datetime& d) {
  double v = 0.0;
  s >> v;
  details::require_finite(s, &v, 1);
  d = datetime(v);
}

void write_binary_field(multi_process_stream& s, const std::vector<std::size_t>& values) {
  s << details::count_to_write(values.size(), "counts");
  for (const auto v : values) s << static_cast<std::uint64_t>(v);
}

void read_binary_field(multi_process_stream& s, std::vector<std::size_t>& values) {
  const auto count = details::read_count(s, sizeof(std::uint64_t));
  std::vector<std::size_t> out(count);
  for (auto& v : out) {
    std::uint64_t raw = 0;
    s >> raw;
    v = static_cast<std::size_t>(raw);
  }
  values = std::move(out);
}

namespace details {

std::uint32_t count_to_write(std::size_t size, const char* what) {
  TARVEX_CHECK_TEXT(size <= std::numeric_limits<std::uint32_t>::max(), "too many ", what, " to serialize: ", size);
  return static_cast<std::uint32_t>(size);
}

std::uint32_t read_count(multi_process_stream& s, std::size_t item_bytes) {
  std::uint32_t count = 0;
  s >> count;
  s.require(count, item_bytes);
  return count;
}

void unregistered_class(const std::string& name, const std::string& base) {
  TARVEX_FAIL("class '", name, "' is not registered for serialization as ", base);
}

void unknown_class(const multi_process_stream& s, const std::string& name, const std::string& base) {
  TARVEX_FAIL(s.source_name().empty() ? std::string("binary stream") : s.source_name(), ": corrupt data: class '",
              name, "' is not registered for serialization as ", base);
}

}  // namespace details
}  // namespace tarvex::serialization
