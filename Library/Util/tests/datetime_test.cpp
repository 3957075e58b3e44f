#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "Core/check.h"
#include "Util/datetime.h"
#include "Util/tenor.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;

TEST(datetime, serial_numbers_of_known_dates) {
  // The origin by definition.
  EXPECT_EQ(datetime(1899, 12, 30).value(), 0.0);
  // Dec 30 -> Dec 31 -> Jan 1: two days.
  EXPECT_EQ(datetime(1900, 1, 1).value(), 2.0);
  // Jan 1 = 2, +31 (January) = Feb 1 = 33, +28 (1900 is not leap) = 61.
  EXPECT_EQ(datetime(1900, 3, 1).value(), 61.0);
  // 2 + 100 * 365 + 24 leap days (1904..1996; 1900 is not leap) = 36526.
  EXPECT_EQ(datetime(2000, 1, 1).value(), 36526.0);
  // 36526 + 26 * 365 + 7 leap days (2000..2024) = 46023 for 2026-01-01, +4 = 46027.
  EXPECT_EQ(datetime(2026, 1, 5).value(), 46027.0);
  EXPECT_EQ(datetime().value(), 0.0);
  EXPECT_EQ(datetime(1899, 12, 29).value(), -1.0);
}

// Independent reference: walk the calendar one day at a time with its own month table.
TEST(datetime, civil_and_serial_agree_with_a_day_by_day_walk_from_1601_to_2400) {
  const auto leap = [](int y) { return y % 400 == 0 || (y % 4 == 0 && y % 100 != 0); };
  const auto length = [&](int y, int m) {
    const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : lengths[m - 1];
  };
  // 1899-12-30 is day 363 (0-based) of 1899, so 1601-01-01 lies that many days plus
  // the lengths of 1601..1898 before the origin.
  long long serial = -363;
  for (int y = 1601; y < 1899; ++y) serial -= leap(y) ? 366 : 365;
  // 1601-01-01 was a Monday.
  int weekday = 0;
  int y = 1601, m = 1, d = 1;
  while (y <= 2400) {
    const datetime from_civil(y, m, d);
    ASSERT_EQ(from_civil.value(), static_cast<double>(serial)) << y << "-" << m << "-" << d;
    const datetime from_serial(static_cast<double>(serial));
    ASSERT_EQ(from_serial.year(), y);
    ASSERT_EQ(from_serial.month(), m);
    ASSERT_EQ(from_serial.day(), d);
    ASSERT_EQ(from_serial.weekday(), weekday);
    ASSERT_EQ(from_serial.is_end_of_month(), d == length(y, m));
    ASSERT_EQ(datetime::from_string(from_serial.to_string()), from_serial);
    ++serial;
    weekday = (weekday + 1) % 7;
    if (++d > length(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
}

TEST(datetime, weekdays_and_fractional_serials) {
  EXPECT_EQ(datetime(2026, 1, 5).weekday(), 0);   // Monday
  EXPECT_EQ(datetime(2000, 1, 1).weekday(), 5);   // Saturday
  EXPECT_EQ(datetime(1969, 7, 20).weekday(), 6);  // Sunday
  EXPECT_EQ(datetime(1899, 12, 30).weekday(), 5);
  EXPECT_TRUE(datetime(2026, 1, 4).is_weekend());
  EXPECT_FALSE(datetime(2026, 1, 2).is_weekend());

  // Calendar fields come from floor(value), also below zero where truncation would differ.
  const datetime noon(46027.5);
  EXPECT_EQ(noon.day(), 5);
  EXPECT_EQ(noon.to_string(), "2026-01-05");
  EXPECT_EQ(datetime(-0.25).to_string(), "1899-12-29");
  EXPECT_EQ(datetime(-0.25).weekday(), 4);
  EXPECT_EQ(noon.add_days(3).value(), 46030.5);
  EXPECT_EQ(noon.days_until(datetime(46029.25)), 2);
  EXPECT_EQ(datetime(46029.25).days_until(noon), -2);

  EXPECT_TRUE(std::isnan(datetime(std::numeric_limits<double>::quiet_NaN()).value()));
  EXPECT_THROW((void)datetime(std::numeric_limits<double>::quiet_NaN()).year(), Error);
}

TEST(datetime, leap_years_month_lengths_and_ordering) {
  EXPECT_FALSE(datetime::is_leap_year(1900));
  EXPECT_TRUE(datetime::is_leap_year(2000));
  EXPECT_TRUE(datetime::is_leap_year(2024));
  EXPECT_FALSE(datetime::is_leap_year(2100));
  EXPECT_EQ(datetime::days_in_month(2024, 2), 29);
  EXPECT_EQ(datetime::days_in_month(2023, 2), 28);
  EXPECT_EQ(datetime::days_in_month(2023, 4), 30);
  EXPECT_THROW(datetime::days_in_month(2023, 13), Error);
  EXPECT_TRUE(datetime(2024, 2, 29).is_end_of_month());
  EXPECT_FALSE(datetime(2024, 2, 28).is_end_of_month());

  EXPECT_LT(datetime(2026, 1, 5), datetime(2026, 1, 6));
  EXPECT_EQ(datetime(2026, 1, 5), datetime(46027.0));
  EXPECT_NE(datetime(2026, 1, 5), datetime(46027.5));
  EXPECT_EQ(datetime(1, 1, 1).to_string(), "0001-01-01");
  EXPECT_EQ(datetime(9999, 12, 31).to_string(), "9999-12-31");
}

TEST(datetime, invalid_dates_are_reported_with_their_text) {
  EXPECT_EQ(error_text([] { datetime::from_string("2026-13-01"); }),
            "invalid date \"2026-13-01\": expected YYYY-MM-DD");
  EXPECT_EQ(error_text([] { datetime::from_string("2023-02-29"); }),
            "invalid date \"2023-02-29\": expected YYYY-MM-DD");
  for (const char* bad : {"", "2026-1-05", "20260105", " 2026-01-05", "2026-01-05T00", "2026/01/05",
                          "0000-01-01", "2026-00-10", "2026-01-00", "2026-01-32", "2026-0a-05", "+026-01-05"})
    EXPECT_EQ(error_text([&] { datetime::from_string(bad); }),
              std::string("invalid date \"") + bad + "\": expected YYYY-MM-DD");
  EXPECT_EQ(datetime::from_string("2024-02-29"), datetime(2024, 2, 29));

  EXPECT_EQ(error_text([] { datetime(2023, 2, 29); }),
            "invalid date 2023-02-29: expected year 1..9999, month 1..12 and a day within the month");
  EXPECT_THROW(datetime(2023, 0, 1), Error);
  EXPECT_THROW(datetime(10000, 1, 1), Error);
  EXPECT_THROW(datetime(0, 12, 31), Error);
}

TEST(tenor, parsing_and_canonical_text) {
  EXPECT_EQ(tenor("1D"), tenor(1, tenor::unit::days));
  EXPECT_EQ(tenor("2w"), tenor(2, tenor::unit::weeks));
  EXPECT_EQ(tenor("3M"), tenor(3, tenor::unit::months));
  EXPECT_EQ(tenor("-10y"), tenor(-10, tenor::unit::years));
  EXPECT_EQ(tenor("007M").count(), 7);
  EXPECT_EQ(tenor("10y").to_string(), "10Y");
  EXPECT_EQ(tenor("-3m").to_string(), "-3M");
  EXPECT_EQ(tenor().to_string(), "0D");
  EXPECT_NE(tenor("12M"), tenor("1Y"));  // same length, different periods

  tenor t;
  t = "6M";
  EXPECT_EQ(t.units(), tenor::unit::months);
  EXPECT_EQ(t.count(), 6);
  const std::string text = "2W";
  t = text;
  EXPECT_EQ(t, tenor(2, tenor::unit::weeks));
}

TEST(tenor, malformed_text_throws_and_leaves_the_value) {
  for (const char* bad : {"", "M", "-M", "1", "1X", "1.5Y", "+1M", " 1M", "1M ", "1MM", "--1M", "1 M",
                          "99999999999Y"})
    EXPECT_EQ(error_text([&] { tenor{std::string_view(bad)}; }),
              std::string("invalid tenor \"") + bad + "\": expected a count followed by D, W, M or Y");
  tenor t("3M");
  EXPECT_THROW(t = "3Q", Error);
  EXPECT_EQ(t, tenor(3, tenor::unit::months));
}

}  // namespace
}  // namespace tarvex
