#include "Util/datetime.h"

#include <cmath>
#include <cstdint>

#include "Core/check.h"

namespace tarvex {
namespace {

// Serial of 1970-01-01: the civil algorithms below count from there.
constexpr std::int64_t unix_epoch_serial = 25569;

struct civil {
  std::int64_t year;
  int month;
  int day;
};

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil):
// exact integer arithmetic over 400-year eras.
constexpr std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Inverse of days_from_civil.
constexpr civil civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(1899, 12, 30) == -unix_epoch_serial);

bool valid_date(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= datetime::days_in_month(year, month);
}

// Whole serial day; the bound keeps the integer conversion defined.
std::int64_t whole_day(double value) {
  TARVEX_CHECK(std::isfinite(value) && std::abs(value) < 1e9, "date serial ", value);
  return static_cast<std::int64_t>(std::floor(value));
}

civil to_civil(double value) { return civil_from_days(whole_day(value) - unix_epoch_serial); }

void append_padded(std::string& out, std::int64_t n, int width) {
  if (n < 0) {
    out.push_back('-');
    n = -n;
  }
  const std::string digits = std::to_string(n);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out.append(digits);
}

std::string iso_text(std::int64_t y, int m, int d) {
  std::string out;
  append_padded(out, y, 4);
  out.push_back('-');
  append_padded(out, m, 2);
  out.push_back('-');
  append_padded(out, d, 2);
  return out;
}

}  // namespace

datetime::datetime(int year, int month, int day) {
  TARVEX_CHECK_TEXT(valid_date(year, month, day), "invalid date ", iso_text(year, month, day),
                    ": expected year 1..9999, month 1..12 and a day within the month");
  value_ = static_cast<double>(days_from_civil(year, month, day) + unix_epoch_serial);
}

datetime datetime::from_string(std::string_view iso) {
  const auto digit = [&](std::size_t i) { return iso[i] >= '0' && iso[i] <= '9'; };
  const auto number = [&](std::size_t from, std::size_t count) {
    int n = 0;
    for (std::size_t i = from; i < from + count; ++i) n = n * 10 + (iso[i] - '0');
    return n;
  };
  bool ok = iso.size() == 10 && iso[4] == '-' && iso[7] == '-';
  for (std::size_t i = 0; ok && i < iso.size(); ++i) ok = i == 4 || i == 7 || digit(i);
  ok = ok && valid_date(number(0, 4), number(5, 2), number(8, 2));
  TARVEX_CHECK_TEXT(ok, "invalid date \"", iso, "\": expected YYYY-MM-DD");
  return datetime(number(0, 4), number(5, 2), number(8, 2));
}

int datetime::year() const { return static_cast<int>(to_civil(value_).year); }
int datetime::month() const { return to_civil(value_).month; }
int datetime::day() const { return to_civil(value_).day; }

int datetime::weekday() const {
  // Serial 2 (1900-01-01) was a Monday.
  const std::int64_t r = (whole_day(value_) - 2) % 7;
  return static_cast<int>(r < 0 ? r + 7 : r);
}

bool datetime::is_weekend() const { return weekday() >= 5; }

std::string datetime::to_string() const {
  const civil c = to_civil(value_);
  return iso_text(c.year, c.month, c.day);
}

datetime datetime::add_days(int n) const { return datetime(value_ + n); }

int datetime::days_until(const datetime& other) const {
  return static_cast<int>(whole_day(other.value_) - whole_day(value_));
}

bool datetime::is_end_of_month() const {
  const civil c = to_civil(value_);
  return c.day == days_in_month(static_cast<int>(c.year), c.month);
}

bool datetime::is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int datetime::days_in_month(int year, int month) {
  TARVEX_CHECK(month >= 1 && month <= 12, "month ", month);
  static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : lengths[month - 1];
}

}  // namespace tarvex
