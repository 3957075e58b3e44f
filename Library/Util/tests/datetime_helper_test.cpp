#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "Core/check.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

using helper = datetime_helper;

datetime d(const char* iso) { return datetime::from_string(iso); }

std::vector<datetime> serials(std::initializer_list<double> values) {
  std::vector<datetime> out;
  for (const double v : values) out.emplace_back(v);
  return out;
}

TEST(datetime_helper, date_offset_both_directions) {
  const auto dates = serials({10, 20, 30});
  // flag true: last date not after.
  EXPECT_EQ(helper::date_offset(datetime(5), dates), 0u);
  EXPECT_EQ(helper::date_offset(datetime(10), dates), 0u);
  EXPECT_EQ(helper::date_offset(datetime(19.5), dates), 0u);
  EXPECT_EQ(helper::date_offset(datetime(20), dates), 1u);
  EXPECT_EQ(helper::date_offset(datetime(30), dates), 2u);
  EXPECT_EQ(helper::date_offset(datetime(99), dates), 2u);
  // flag false: first date not before.
  EXPECT_EQ(helper::date_offset(datetime(5), dates, false), 0u);
  EXPECT_EQ(helper::date_offset(datetime(10), dates, false), 0u);
  EXPECT_EQ(helper::date_offset(datetime(10.5), dates, false), 1u);
  EXPECT_EQ(helper::date_offset(datetime(20), dates, false), 1u);
  EXPECT_EQ(helper::date_offset(datetime(30), dates, false), 2u);
  EXPECT_EQ(helper::date_offset(datetime(99), dates, false), 2u);
  EXPECT_EQ(helper::date_offset(datetime(99), serials({4}), false), 0u);
  EXPECT_THROW(helper::date_offset(datetime(1), {}), Error);
}

TEST(datetime_helper, merge_dates_keeps_what_out_held) {
  std::vector<datetime> out = serials({5, 25});
  helper::merge_dates(serials({1, 5, 9}), serials({9, 30}), out);
  EXPECT_EQ(out, serials({1, 5, 9, 25, 30}));
  std::vector<datetime> empty;
  helper::merge_dates({}, {}, empty);
  EXPECT_TRUE(empty.empty());
  // Either input may be the output itself (the model merges its extra dates that way).
  std::vector<datetime> self = serials({4, 8});
  helper::merge_dates(serials({2, 8}), self, self);
  EXPECT_EQ(self, serials({2, 4, 8}));
  helper::merge_dates(self, self, self);
  EXPECT_EQ(self, serials({2, 4, 8}));
}

TEST(datetime_helper, subset_lookups_agree_with_date_offset) {
  std::mt19937 rng(3);
  for (int round = 0; round < 50; ++round) {
    std::set<int> all_set, subset_set;
    std::uniform_int_distribution<int> day(0, 200);
    for (int i = 0; i < 60; ++i) all_set.insert(day(rng));
    for (int i = 0; i < 1 + round % 12; ++i) subset_set.insert(day(rng));
    std::vector<datetime> all, subset;
    for (const int x : all_set) all.emplace_back(x);
    for (const int x : subset_set) subset.emplace_back(x);

    std::vector<std::size_t> out{99, 99};
    helper::interpolate_from_subset_dates(all, subset, out);
    ASSERT_EQ(out.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(out[i], helper::date_offset(all[i], subset, true));

    // A subset drawn from the grid itself maps back to the positions it came from.
    std::vector<datetime> picked;
    std::vector<std::size_t> positions;
    for (std::size_t i = round % 3; i < all.size(); i += 1 + round % 5) {
      picked.push_back(all[i]);
      positions.push_back(i);
    }
    helper::index_subset_dates(all, picked, out);
    ASSERT_EQ(out, positions);
  }
  EXPECT_THROW(
      {
        std::vector<std::size_t> out;
        helper::interpolate_from_subset_dates(serials({1}), {}, out);
      },
      Error);
}

TEST(datetime_helper, index_subset_dates_names_a_missing_date) {
  std::vector<std::size_t> out;
  const std::vector<datetime> grid{d("2026-01-05"), d("2026-01-06"), d("2026-01-08")};
  try {
    helper::index_subset_dates(grid, {d("2026-01-06"), d("2026-01-07")}, out);
    FAIL() << "no throw";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "date 2026-01-07 is not in the date grid");
  }
  EXPECT_THROW(helper::index_subset_dates(grid, {d("2026-01-09")}, out), Error);
  EXPECT_THROW(helper::index_subset_dates(grid, {d("2026-01-04")}, out), Error);
}

TEST(datetime_helper, add_tenor_end_of_month_and_leap_years) {
  const auto add = [](const char* date, const char* t, int direction = 1) {
    return helper::add_tenor(d(date), tenor(std::string_view(t)), direction).to_string();
  };
  EXPECT_EQ(add("2024-01-31", "1M"), "2024-02-29");
  EXPECT_EQ(add("2023-02-28", "1M"), "2023-03-31");  // a month end stays a month end
  EXPECT_EQ(add("2024-02-28", "1M"), "2024-03-28");  // not a month end in a leap year
  EXPECT_EQ(add("2024-02-29", "1Y"), "2025-02-28");
  EXPECT_EQ(add("2024-02-29", "4Y"), "2028-02-29");
  EXPECT_EQ(add("2024-01-30", "1M"), "2024-02-29");
  EXPECT_EQ(add("2025-01-15", "3M", -1), "2024-10-15");
  EXPECT_EQ(add("2025-01-15", "-3M"), "2024-10-15");
  EXPECT_EQ(add("2024-03-31", "1M", -1), "2024-02-29");
  EXPECT_EQ(add("2024-02-29", "1M", -1), "2024-01-31");
  EXPECT_EQ(add("2024-04-30", "1M"), "2024-05-31");
  EXPECT_EQ(add("2025-11-15", "2M"), "2026-01-15");
  EXPECT_EQ(add("2025-01-15", "25M", -1), "2022-12-15");
  EXPECT_EQ(add("2026-01-05", "10D"), "2026-01-15");
  EXPECT_EQ(add("2026-01-05", "2W", -1), "2025-12-22");
  EXPECT_EQ(helper::add_tenor(datetime(46027.25), tenor("1M")).value(), 46058.25);

  EXPECT_THROW(add("2026-01-05", "1M", 0), Error);
  EXPECT_THROW(add("2026-01-05", "1M", 2), Error);
  EXPECT_THROW(add("9999-06-30", "1Y"), Error);
  EXPECT_THROW(add("0001-06-30", "1Y", -1), Error);
}

TEST(datetime_helper, schedule_steps_from_start_and_absorbs_short_stubs) {
  const auto text = [](const std::vector<datetime>& dates) {
    std::string out;
    for (const auto& x : dates) out += x.to_string() + " ";
    return out;
  };
  // Measured from start, a 30th stays the 30th after February (chaining would drift to the 29th).
  EXPECT_EQ(text(helper::schedule(d("2024-01-30"), d("2024-05-30"), tenor("1M"))),
            "2024-01-30 2024-02-29 2024-03-30 2024-04-30 2024-05-30 ");
  EXPECT_EQ(text(helper::schedule(d("2024-01-31"), d("2024-05-31"), tenor("1M"))),
            "2024-01-31 2024-02-29 2024-03-31 2024-04-30 2024-05-31 ");
  // 3-day stub merged into end; 15-day stub kept.
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2026-04-08"), tenor("1M"))),
            "2026-01-05 2026-02-05 2026-03-05 2026-04-08 ");
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2026-04-20"), tenor("1M"))),
            "2026-01-05 2026-02-05 2026-03-05 2026-04-05 2026-04-20 ");
  // The start is never dropped, however short the only period.
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2026-01-08"), tenor("1M"))), "2026-01-05 2026-01-08 ");
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2026-01-05"), tenor("1M"))), "2026-01-05 ");
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2026-01-08"), tenor("1D"))),
            "2026-01-05 2026-01-06 2026-01-07 2026-01-08 ");
  EXPECT_EQ(text(helper::schedule(d("2026-01-05"), d("2028-01-05"), tenor("1Y"))), "2026-01-05 2027-01-05 2028-01-05 ");

  EXPECT_THROW(helper::schedule(d("2026-01-05"), d("2026-01-04"), tenor("1M")), Error);
  EXPECT_THROW(helper::schedule(d("2026-01-05"), d("2026-06-05"), tenor("0M")), Error);
  EXPECT_THROW(helper::schedule(d("2026-01-05"), d("2026-06-05"), tenor("-1M")), Error);
}

}  // namespace
}  // namespace tarvex
