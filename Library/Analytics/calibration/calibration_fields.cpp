#include "Analytics/calibration/calibration_fields.h"

#include <cstdint>
#include <limits>
#include <string>

#include "Core/check.h"

namespace tarvex::serialization {
namespace {

void write_count(multi_process_stream& s, std::size_t count, const char* what) {
  TARVEX_CHECK_TEXT(count <= std::numeric_limits<std::uint32_t>::max(), "too many ", what, " to serialize: ", count);
  s << static_cast<std::uint32_t>(count);
}

// Counts come from the file: compare them with the bytes left before allocating.
// `least_item_bytes` is the smallest encoding of one item (a string's length prefix,
// a row's count).
std::uint32_t read_count(multi_process_stream& s, std::size_t least_item_bytes) {
  std::uint32_t count = 0;
  s >> count;
  s.require(count, least_item_bytes);
  return count;
}

}  // namespace

// --- JSON ------------------------------------------------------------------------

void write_json_field(json& j, const tenor& t) { j = t.to_string(); }

void read_json_field(const json& j, tenor& t) { t = j.get<std::string>(); }

void write_json_field(json& j, const std::vector<tenor>& tenors) {
  j = json::array();
  for (const auto& t : tenors) j.push_back(t.to_string());
}

void read_json_field(const json& j, std::vector<tenor>& tenors) {
  if (j.is_null()) {
    tenors.clear();
    return;
  }
  const auto texts = j.get<std::vector<std::string>>();
  std::vector<tenor> out(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) out[i] = texts[i];
  tenors = std::move(out);
}

void write_json_field(json& j, const std::vector<std::vector<double>>& table) {
  j = json::array();
  for (const auto& row : table) {
    json values = json::array();
    for (double v : row) values.push_back(v);
    j.push_back(std::move(values));
  }
}

void read_json_field(const json& j, std::vector<std::vector<double>>& table) {
  if (j.is_null()) {
    table.clear();
    return;
  }
  table = j.get<std::vector<std::vector<double>>>();
}

// --- binary ----------------------------------------------------------------------

void write_binary_field(multi_process_stream& s, const tenor& t) { s << t.to_string(); }

void read_binary_field(multi_process_stream& s, tenor& t) {
  std::string text;
  s >> text;
  t = text;
}

void write_binary_field(multi_process_stream& s, const std::vector<tenor>& tenors) {
  write_count(s, tenors.size(), "tenors");
  for (const auto& t : tenors) s << t.to_string();
}

void read_binary_field(multi_process_stream& s, std::vector<tenor>& tenors) {
  const auto count = read_count(s, sizeof(std::uint64_t));
  tenors.resize(count);
  for (auto& t : tenors) read_binary_field(s, t);
}

void write_binary_field(multi_process_stream& s, const std::vector<std::vector<double>>& table) {
  write_count(s, table.size(), "strike rows");
  for (const auto& row : table) {
    write_count(s, row.size(), "strikes");
    s.Push(row.data(), row.size());
  }
}

void read_binary_field(multi_process_stream& s, std::vector<std::vector<double>>& table) {
  const auto rows = read_count(s, sizeof(std::uint32_t));
  table.resize(rows);
  for (auto& row : table) {
    const auto count = read_count(s, sizeof(double));
    row.assign(count, 0.0);
    s.Pop(row.data(), count);
  }
}

}  // namespace tarvex::serialization
