#include "Analytics/foundations/serialization_fields.h"

#include <cmath>
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

std::string source_of(const multi_process_stream& s) {
  return s.source_name().empty() ? std::string("binary stream") : s.source_name();
}

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF; the JSON
// library's writer refuses exactly these.
bool is_utf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
    if (c < 0x80) length = 1;
    else if (c >= 0xc2 && c <= 0xdf) length = 2;
    else if (c >= 0xe0 && c <= 0xef) length = 3, lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
    else if (c >= 0xf0 && c <= 0xf4) length = 4, lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
    else return false;
    if (n - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char b = p[i + k];
      if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xbf)) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

namespace details {
namespace {
// A number that does not fit is a JSON error like a wrong type: the JSON library's
// exception, with the range and the value.
[[noreturn]] void out_of_range(const json& j, const std::string& lo, const std::string& hi) {
  throw json::out_of_range::create(406, "expected an integer from " + lo + " to " + hi + ", got " + j.dump(), &j);
}
}  // namespace

// Integral floats count (2.0 is 2): other writers than ours may print them so.
std::int64_t json_integer(const json& j, std::int64_t lo, std::int64_t hi) {
  if (!j.is_number()) return j.get<std::int64_t>();  // the JSON library's type error
  bool fits = false;
  std::int64_t v = 0;
  if (j.is_number_unsigned()) {
    const auto u = j.get<std::uint64_t>();
    fits = u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    v = fits ? static_cast<std::int64_t>(u) : 0;
  } else if (j.is_number_integer()) {
    v = j.get<std::int64_t>();
    fits = true;
  } else {
    const double d = j.get<double>();
    // 2^63 is exact in a double; every integral double below it converts exactly.
    fits = std::floor(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0;
    v = fits ? static_cast<std::int64_t>(d) : 0;
  }
  if (!(fits && v >= lo && v <= hi)) out_of_range(j, std::to_string(lo), std::to_string(hi));
  return v;
}

std::uint64_t json_unsigned(const json& j, std::uint64_t hi) {
  if (!j.is_number()) return j.get<std::uint64_t>();
  bool fits = false;
  std::uint64_t v = 0;
  if (j.is_number_unsigned()) {
    v = j.get<std::uint64_t>();
    fits = true;
  } else if (j.is_number_integer()) {
    fits = false;  // negative: unsigned ones are stored as such
  } else {
    const double d = j.get<double>();
    fits = std::floor(d) == d && d >= 0.0 && d < 18446744073709551616.0;
    v = fits ? static_cast<std::uint64_t>(d) : 0;
  }
  if (!(fits && v <= hi)) out_of_range(j, "0", std::to_string(hi));
  return v;
}

void require_finite(const multi_process_stream& s, const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    TARVEX_CHECK_TEXT(std::isfinite(values[i]), source_of(s), ": corrupt data: non-finite number");
}

std::string read_text(multi_process_stream& s) {
  std::string text;
  s >> text;
  TARVEX_CHECK_TEXT(is_utf8(text), source_of(s), ": corrupt data: text that is not UTF-8");
  return text;
}

}  // namespace details

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
  const auto rows = details::json_unsigned(j.at("rows"));
  const auto columns = details::json_unsigned(j.at("columns"));
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
  const auto type = static_cast<day_count_convention_type>(
      details::json_integer(j.at("type"), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
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
  details::require_finite(s, out.data(), out.size());
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
    details::require_finite(s, &v, 1);
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
  details::require_finite(s, values.data(), count);
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
