#pragma once
#include <compare>
#include <string>
#include <string_view>

namespace tarvex {

// A calendar date held as one double: the serial day number counted from 1899-12-30 = 0
// (the spreadsheet convention, so serials exchanged with other systems line up).
// A fractional part is carried along but calendar queries use floor(value()).
class datetime {
 public:
  // Serial 0, i.e. 1899-12-30.
  datetime() = default;
  // Any serial, NaN included; readers restore stored values through this.
  explicit datetime(double serial) : value_(serial) {}
  // Proleptic Gregorian date; expects year 1..9999, month 1..12, day within the month.
  datetime(int year, int month, int day);
  // Parses "YYYY-MM-DD" exactly; anything else throws.
  static datetime from_string(std::string_view iso);

  // The serial day number.
  double value() const { return value_; }
  // Calendar year of floor(value()).
  int year() const;
  // Month 1..12 of floor(value()).
  int month() const;
  // Day of month of floor(value()).
  int day() const;
  // 0 = Monday ... 6 = Sunday.
  int weekday() const;
  // True on Saturday and Sunday.
  bool is_weekend() const;
  // ISO text, e.g. "2026-01-05".
  std::string to_string() const;
  // This date moved by n calendar days (the fractional part is kept).
  datetime add_days(int n) const;
  // Whole days from this date to `other` (other - this).
  int days_until(const datetime& other) const;
  // True when the date is the last day of its month.
  bool is_end_of_month() const;

  // True for Gregorian leap years.
  static bool is_leap_year(int year);
  // Length of a month; expects month 1..12.
  static int days_in_month(int year, int month);

  bool operator==(const datetime&) const = default;
  auto operator<=>(const datetime&) const = default;

 private:
  double value_ = 0.0;
};

}  // namespace tarvex
