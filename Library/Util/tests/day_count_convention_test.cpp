#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "Core/check.h"
#include "Util/day_count_convention.h"

namespace tarvex {
namespace {

using type = day_count_convention_type;

datetime d(const char* iso) { return datetime::from_string(iso); }

// Reference ACT/ACT ISDA: every day of the period weighs 1 / (length of its year).
double act_act_by_days(const datetime& from, const datetime& to) {
  double sum = 0.0;
  for (datetime x = from; x < to; x = x.add_days(1)) sum += 1.0 / (datetime::is_leap_year(x.year()) ? 366 : 365);
  return sum;
}

TEST(day_count_convention, actual_rules_use_the_exact_serial_difference) {
  const day_count_convention act365;
  const day_count_convention act360(type::act_360);
  // Jan 5 -> Jul 5 2026: 31 + 28 + 31 + 30 + 31 + 30 = 181 days.
  EXPECT_DOUBLE_EQ(act365.fraction(d("2026-01-05"), d("2026-07-05")), 181.0 / 365);
  EXPECT_DOUBLE_EQ(act360.fraction(d("2026-01-05"), d("2026-07-05")), 181.0 / 360);
  EXPECT_DOUBLE_EQ(act365.fraction(datetime(100.25), datetime(101.75)), 1.5 / 365);
  EXPECT_DOUBLE_EQ(act360.fraction(datetime(101.75), datetime(100.25)), -1.5 / 360);
  EXPECT_EQ(act365.fraction(d("2026-01-05"), d("2026-01-05")), 0.0);
}

TEST(day_count_convention, thirty_360_bond_basis_31st_rules) {
  const day_count_convention c(type::thirty_360);
  // D1 = 31 -> 30, then D2 = 31 with D1 >= 30 -> 30: two whole months.
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-01-31"), d("2024-03-31")), 60.0 / 360);
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-01-30"), d("2024-03-31")), 60.0 / 360);
  // D1 = 29 leaves D2 = 31 alone: 60 + 2 days.
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-01-29"), d("2024-03-31")), 62.0 / 360);
  // Bond basis has no February end-of-month rule: 30 + (31 - 29).
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-02-29"), d("2024-03-31")), 32.0 / 360);
  // 720 - 180 across years with a negative month difference.
  EXPECT_DOUBLE_EQ(c.fraction(d("2023-12-15"), d("2025-06-15")), 1.5);
  // The earlier date plays D1 either way round.
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-03-31"), d("2024-01-29")), -62.0 / 360);
  // Whole days only.
  EXPECT_DOUBLE_EQ(c.fraction(datetime(d("2024-01-29").value() + 0.9), d("2024-03-31")), 62.0 / 360);
}

TEST(day_count_convention, act_act_isda_splits_by_calendar_year) {
  const day_count_convention c(type::act_act_isda);
  // Nov 1 -> Jan 1: 30 + 31 days of 2003; Jan 1 -> May 1: 31 + 29 + 31 + 30 days of 2004.
  EXPECT_DOUBLE_EQ(c.fraction(d("2003-11-01"), d("2004-05-01")), 61.0 / 365 + 121.0 / 366);
  EXPECT_DOUBLE_EQ(c.fraction(d("2004-05-01"), d("2003-11-01")), -(61.0 / 365 + 121.0 / 366));
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-01-01"), d("2024-12-31")), 365.0 / 366);
  EXPECT_DOUBLE_EQ(c.fraction(d("2024-01-01"), d("2025-01-01")), 1.0);
  // Jul 1 -> Jan 1 = 184 days of 2003, two whole years, Jan 1 -> Mar 1 = 59 days of 2006.
  EXPECT_DOUBLE_EQ(c.fraction(d("2003-07-01"), d("2006-03-01")), 184.0 / 365 + 2 + 59.0 / 365);

  std::mt19937 rng(7);
  std::uniform_int_distribution<int> day(36000, 38000);
  for (int i = 0; i < 200; ++i) {
    const datetime a(day(rng)), b(day(rng));
    const double expected = a < b ? act_act_by_days(a, b) : -act_act_by_days(b, a);
    ASSERT_NEAR(c.fraction(a, b), expected, 1e-12) << a.to_string() << " " << b.to_string();
  }
}

TEST(day_count_convention, every_rule_is_antisymmetric) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> day(40000, 47000);
  for (const type t : {type::act_365_fixed, type::act_360, type::thirty_360, type::act_act_isda}) {
    const day_count_convention c(t);
    for (int i = 0; i < 100; ++i) {
      const datetime a(day(rng)), b(day(rng));
      ASSERT_EQ(c.fraction(a, b), -c.fraction(b, a)) << c.name() << " " << a.to_string() << " " << b.to_string();
    }
  }
}

TEST(day_count_convention, names_calendar_and_unknown_codes) {
  EXPECT_EQ(day_count_convention().type(), type::act_365_fixed);
  EXPECT_EQ(day_count_convention().name(), "ACT/365F");
  EXPECT_EQ(day_count_convention(type::act_360).name(), "ACT/360");
  EXPECT_EQ(day_count_convention(type::thirty_360).name(), "30/360");
  EXPECT_EQ(day_count_convention(type::act_act_isda).name(), "ACT/ACT ISDA");
  EXPECT_EQ(static_cast<int>(type::act_act_isda), 3);

  const auto cal = std::make_shared<const calendar>();
  EXPECT_EQ(day_count_convention(type::act_360, cal).calendar_ptr(), cal);
  EXPECT_EQ(day_count_convention().calendar_ptr(), nullptr);

  for (const int code : {7, -1, 4}) {
    try {
      day_count_convention c(static_cast<type>(code));
      FAIL() << "no throw for " << code;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "unknown day count convention type " + std::to_string(code));
    }
  }
}

}  // namespace
}  // namespace tarvex
