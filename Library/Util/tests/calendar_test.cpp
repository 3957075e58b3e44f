#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/check.h"
#include "Util/calendar.h"

namespace tarvex {
namespace {

using bdc = business_day_convention;

datetime d(const char* iso) { return datetime::from_string(iso); }

TEST(calendar, weekends_and_conventions) {
  const calendar c;
  EXPECT_TRUE(c.use_weekends());
  EXPECT_TRUE(c.dates().empty());
  // 2026-01-03 is a Saturday.
  EXPECT_FALSE(c.is_business_day(d("2026-01-03")));
  EXPECT_TRUE(c.is_business_day(d("2026-01-02")));
  EXPECT_EQ(c.adjust(d("2026-01-03"), bdc::unadjusted), d("2026-01-03"));
  EXPECT_EQ(c.adjust(d("2026-01-03"), bdc::following), d("2026-01-05"));
  EXPECT_EQ(c.adjust(d("2026-01-03"), bdc::preceding), d("2026-01-02"));
  EXPECT_EQ(c.adjust(d("2026-01-03"), bdc::modified_following), d("2026-01-05"));
  // 2026-01-31 is a Saturday: following leaves the month, so modified following goes back.
  EXPECT_EQ(c.adjust(d("2026-01-31"), bdc::following), d("2026-02-02"));
  EXPECT_EQ(c.adjust(d("2026-01-31"), calendar::business_day_convention::modified_following), d("2026-01-30"));
  // A business day never moves.
  for (const bdc conv : {bdc::following, bdc::modified_following, bdc::preceding})
    EXPECT_EQ(c.adjust(d("2026-01-30"), conv), d("2026-01-30"));

  const calendar no_weekends(false, {});
  EXPECT_TRUE(no_weekends.is_business_day(d("2026-01-03")));
}

TEST(calendar, holidays_are_sorted_deduplicated_and_whole_days) {
  const calendar c(true, {d("2026-01-02"), d("2025-12-25"), datetime(d("2026-01-01").value() + 0.5), d("2026-01-02")});
  EXPECT_EQ(c.dates(), (std::vector<datetime>{d("2025-12-25"), d("2026-01-01"), d("2026-01-02")}));
  EXPECT_FALSE(c.is_business_day(datetime(d("2026-01-02").value() + 0.75)));
  // Thu and Fri holidays, then the weekend.
  EXPECT_EQ(c.adjust(d("2026-01-01"), bdc::following), d("2026-01-05"));
  EXPECT_EQ(c.adjust(d("2026-01-03"), bdc::preceding), d("2025-12-31"));
  EXPECT_EQ(c.advance_business_days(d("2025-12-31"), 1), d("2026-01-05"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-05"), -1), d("2025-12-31"));
}

TEST(calendar, advancing_by_business_days) {
  const calendar c;
  EXPECT_EQ(c.advance_business_days(d("2026-01-02"), 1), d("2026-01-05"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-05"), -1), d("2026-01-02"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-05"), 5), d("2026-01-12"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-12"), -10), d("2025-12-29"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-03"), 1), d("2026-01-05"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-03"), -1), d("2026-01-02"));
  EXPECT_EQ(c.advance_business_days(d("2026-01-03"), 0), d("2026-01-03"));
}

TEST(calendar, a_calendar_without_business_days_fails_instead_of_looping) {
  std::vector<datetime> every_day;
  for (int i = 0; i < 800; ++i) every_day.push_back(d("2026-01-01").add_days(i));
  const calendar c(false, every_day);
  try {
    c.adjust(d("2026-06-01"), bdc::following);
    FAIL() << "no throw";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "no business day within 366 days of 2026-06-01");
  }
  EXPECT_THROW(c.advance_business_days(d("2027-03-01"), -1), Error);
  // The last holiday is followed by a business day.
  EXPECT_EQ(c.adjust(d("2028-01-01"), bdc::following), d("2026-01-01").add_days(800));
}

}  // namespace
}  // namespace tarvex
