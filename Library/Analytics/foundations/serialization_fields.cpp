#include "Analytics/foundations/serialization_fields.h"

#include <limits>
#include <typeinfo>

#include "Core/check.h"
#include "Core/demangle.h"

namespace tarvex::serialization {
namespace {

bool is_empty_marker(const json& j) { return j.at("Class").get<std::string>() == empty_marker; }

void write_doubles(json& j, const double* values, std::size_t count) {
  j = json::array();
  for (std::size_t i = 0; i < count; ++i) j.push_back(values[i]);
}

// Null reads as no values; anything else must be an array of numbers.
std::vector<double> read_doubles(const json& j) {
  if (j.is_null()) return {};
  return j.get<std::vector<double>>();
}

// Counts come from the file: compare them with the bytes left before allocating.
std::uint32_t read_count(multi_process_stream& s, std::size_t item_bytes) {
  std::uint32_t count = 0;
  s >> count;
  s.require(count, item_bytes);
  return count;
}

}  // namespace

// --- JSON ------------------------------------------------------------------------

void write_json_field(json& j, const matrix<double>& m) {
  j = json::object();
  j["class"] = "tarvex.matrix";
  j["rows"] = static_cast<std::uint64_t>(m.rows());
  j["columns"] = static_cast<std::uint64_t>(m.columns());
  auto& data = j["data"] = json::array();
  for (std::size_t c = 0; c < m.columns(); ++c) {
    json column = json::array();
    for (std::size_t r = 0; r < m.rows(); ++r) column.push_back(m(r, c));
    data.push_back(std::move(column));
  }
}

void read_json_field(const json& j, matrix<double>& m) {
  const auto rows = j.at("rows").get<std::uint64_t>();
  const auto columns = j.at("columns").get<std::uint64_t>();
  const auto& data = j.at("data");
  // Probe the last entry of every column first, so a record claiming more entries
  // than it holds fails with the JSON library's error before anything is allocated.
  for (std::uint64_t c = 0; c < columns; ++c) {
    const auto& column = data.at(c);
    if (rows > 0) (void)column.at(rows - 1);
  }
  matrix<double> out(rows, columns);
  for (std::uint64_t c = 0; c < columns; ++c) {
    const auto& column = data.at(c);
    for (std::uint64_t r = 0; r < rows; ++r) out(r, c) = column.at(r).get<double>();
  }
  m = std::move(out);
}

void write_json_field(json& j, const std::vector<datetime>& dates) {
  if (dates.empty()) {
    j = nullptr;
    return;
  }
  j = json::array();
  for (const auto& d : dates) j.push_back(d.value());
}

void read_json_field(const json& j, std::vector<datetime>& dates) {
  const auto values = read_doubles(j);
  dates.assign(values.size(), datetime(std::numeric_limits<double>::quiet_NaN()));
  for (std::size_t i = 0; i < values.size(); ++i) dates[i] = datetime(values[i]);
}

void write_json_field(json& j, const std::vector<double>& values) { write_doubles(j, values.data(), values.size()); }

void read_json_field(const json& j, std::vector<double>& values) { values = read_doubles(j); }

void write_json_field(json& j, const std::shared_ptr<const calendar>& c) {
  j = json::object();
  if (!c) {
    j["Class"] = empty_marker;
    return;
  }
  j["Class"] = demangle(typeid(*c));
  j["use_weekends"] = c->use_weekends();
  write_json_field(j["dates"], c->dates());
}

void read_json_field(const json& j, std::shared_ptr<const calendar>& c) {
  if (is_empty_marker(j)) {
    c = std::make_shared<const calendar>();
    return;
  }
  const bool use_weekends = j.at("use_weekends").get<bool>();
  std::vector<datetime> dates;
  read_json_field(j.at("dates"), dates);
  c = std::make_shared<const calendar>(use_weekends, std::move(dates));
}

void write_json_field(json& j, const std::shared_ptr<const day_count_convention>& d) {
  j = json::object();
  if (!d) {
    j["Class"] = empty_marker;
    return;
  }
  j["Class"] = demangle(typeid(*d));
  j["type"] = static_cast<std::int32_t>(d->type());
  write_json_field(j["calendar"], d->calendar_ptr());
}

void read_json_field(const json& j, std::shared_ptr<const day_count_convention>& d) {
  if (is_empty_marker(j)) {
    d = std::make_shared<const day_count_convention>();
    return;
  }
  const auto type = static_cast<day_count_convention_type>(j.at("type").get<std::int32_t>());
  std::shared_ptr<const calendar> c;
  read_json_field(j.at("calendar"), c);
  d = std::make_shared<const day_count_convention>(type, std::move(c));
}

// --- binary ----------------------------------------------------------------------

void write_binary_field(multi_process_stream& s, const matrix<double>& m) {
  s << static_cast<std::uint64_t>(m.rows()) << static_cast<std::uint64_t>(m.columns());
  s.Push(m.data(), m.size());
}

void read_binary_field(multi_process_stream& s, matrix<double>& m) {
  std::uint64_t rows = 0, columns = 0;
  s >> rows >> columns;
  TARVEX_CHECK_TEXT(columns == 0 || rows <= std::numeric_limits<std::uint64_t>::max() / columns,
                    s.source_name(), ": corrupt data: matrix of ", rows, " x ", columns, " entries");
  s.require(rows * columns, sizeof(double));
  matrix<double> out(rows, columns);
  s.Pop(out.data(), out.size());
  m = std::move(out);
}

void write_binary_field(multi_process_stream& s, const std::vector<datetime>& dates) {
  TARVEX_CHECK_TEXT(dates.size() <= std::numeric_limits<std::uint32_t>::max(), "too many dates to serialize: ",
                    dates.size());
  s << static_cast<std::uint32_t>(dates.size());
  for (const auto& d : dates) s << d.value();
}

void read_binary_field(multi_process_stream& s, std::vector<datetime>& dates) {
  const auto count = read_count(s, sizeof(double));
  dates.assign(count, datetime(std::numeric_limits<double>::quiet_NaN()));
  for (auto& d : dates) {
    double v = 0.0;
    s >> v;
    d = datetime(v);
  }
}

void write_binary_field(multi_process_stream& s, const std::vector<double>& values) {
  TARVEX_CHECK_TEXT(values.size() <= std::numeric_limits<std::uint32_t>::max(), "too many values to serialize: ",
                    values.size());
  s << static_cast<std::uint32_t>(values.size());
  s.Push(values.data(), values.size());
}

void read_binary_field(multi_process_stream& s, std::vector<double>& values) {
  const auto count = read_count(s, sizeof(double));
  values.assign(count, 0.0);
  s.Pop(values.data(), count);
}

void write_binary_field(multi_process_stream& s, const std::shared_ptr<const calendar>& c) {
  if (!c) {
    s << std::string(empty_marker);
    return;
  }
  s << demangle(typeid(*c)) << c->use_weekends();
  write_binary_field(s, c->dates());
}

void read_binary_field(multi_process_stream& s, std::shared_ptr<const calendar>& c) {
  std::string name;
  s >> name;
  if (name == empty_marker) {
    c = std::make_shared<const calendar>();
    return;
  }
  bool use_weekends = false;
  s >> use_weekends;
  std::vector<datetime> dates;
  read_binary_field(s, dates);
  c = std::make_shared<const calendar>(use_weekends, std::move(dates));
}

void write_binary_field(multi_process_stream& s, const std::shared_ptr<const day_count_convention>& d) {
  if (!d) {
    s << std::string(empty_marker);
    return;
  }
  s << demangle(typeid(*d)) << static_cast<std::int32_t>(d->type());
  write_binary_field(s, d->calendar_ptr());
}

void read_binary_field(multi_process_stream& s, std::shared_ptr<const day_count_convention>& d) {
  std::string name;
  s >> name;
  if (name == empty_marker) {
    d = std::make_shared<const day_count_convention>();
    return;
  }
  std::int32_t type = 0;
  s >> type;
  std::shared_ptr<const calendar> c;
  read_binary_field(s, c);
  d = std::make_shared<const day_count_convention>(static_cast<day_count_convention_type>(type), std::move(c));
}

}  // namespace tarvex::serialization
