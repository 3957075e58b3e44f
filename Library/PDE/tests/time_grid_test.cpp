#include <gtest/gtest.h>

#include <cmath>

#include "Core/error.h"
#include "PDE/time_grid.h"

namespace tarvex {
namespace {

TEST(time_grid, weekly_steps_hold_every_event_date_on_whole_days) {
  const datetime from(2026, 1, 5), to(2031, 1, 5);
  const std::vector<datetime> events{datetime(2026, 3, 20), datetime(2027, 1, 5), from, to, datetime(2040, 1, 1)};
  const time_grid grid(time_grid_config(0, 0, true, 7.0, 1, 1.0), from, to, events, events);
  const auto& d = grid.dates();
  EXPECT_EQ(d.front(), from);
  EXPECT_EQ(d.back(), to);
  EXPECT_TRUE(grid.is_direction_forward());
  for (std::size_t i = 1; i < d.size(); ++i) {
    const double step = d[i].value() - d[i - 1].value();
    EXPECT_GE(step, 1.0);
    EXPECT_LE(step, 7.0) << i;
    EXPECT_EQ(d[i].value(), std::floor(d[i].value()));
  }
  // Events inside [from, to], each once and ascending; the 2040 date is outside.
  ASSERT_EQ(grid.event_dates_size(), 4u);
  EXPECT_EQ(grid.event_dates_indexs(0), 0u);
  EXPECT_EQ(grid.date(grid.event_dates_indexs(1)), datetime(2026, 3, 20));
  EXPECT_EQ(grid.date(grid.event_dates_indexs(2)), datetime(2027, 1, 5));
  EXPECT_EQ(grid.event_dates_indexs(3), d.size() - 1);
  // 74 days to the first event: 11 steps of 6 or 7 days.
  EXPECT_EQ(grid.event_dates_indexs(1), 11u);
}

TEST(time_grid, period_forces_steps_and_minimum_step_merges_them) {
  const datetime from(2026, 1, 5), to(2026, 1, 15);
  // At least 5 steps in 10 days, but none shorter than 3 days: 3 steps.
  const time_grid a(time_grid_config(0, 1, true, 30.0, 5, 3.0), from, to, {}, {});
  EXPECT_EQ(a.size(), 4u);
  EXPECT_FALSE(a.is_direction_forward());
  // keep_dates false drops plain dates but keeps events.
  const std::vector<datetime> plain{datetime(2026, 1, 8)};
  EXPECT_EQ(time_grid(time_grid_config(0, 0, false, 30.0, 1, 0.0), from, to, plain, {}).size(), 2u);
  EXPECT_EQ(time_grid(time_grid_config(0, 0, true, 30.0, 1, 0.0), from, to, plain, {}).size(), 3u);
  EXPECT_EQ(time_grid(time_grid_config(0, 0, false, 30.0, 1, 0.0), from, to, {}, plain).size(), 3u);
  // A single date: from == to.
  EXPECT_EQ(time_grid(time_grid_config(0, 0, true, 7.0, 1, 0.0), from, from, {}, {from}).size(), 1u);
  EXPECT_THROW(time_grid_config(0, 0, true, 0.0, 1, 0.0), Error);
  EXPECT_THROW(time_grid_config(3, 0, true, 7.0, 1, 0.0), Error);
}

}  // namespace
}  // namespace tarvex
