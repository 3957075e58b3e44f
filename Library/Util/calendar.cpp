#include "Util/calendar.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"

namespace tarvex {
namespace {

// Longer runs of holidays mean the calendar has no business days to find.
constexpr int max_consecutive_holidays = 366;

}  // namespace

calendar::calendar(bool use_weekends, std::vector<datetime> holidays)
    : use_weekends_(use_weekends), holidays_(std::move(holidays)) {
  for (auto& h : holidays_) {
    TARVEX_CHECK(std::isfinite(h.value()), "holiday serial ", h.value());
    h = datetime(std::floor(h.value()));
  }
  std::sort(holidays_.begin(), holidays_.end());
  holidays_.erase(std::unique(holidays_.begin(), holidays_.end()), holidays_.end());
}

bool calendar::is_business_day(const datetime& date) const {
  if (use_weekends_ && date.is_weekend()) return false;
  return !std::binary_search(holidays_.begin(), holidays_.end(), datetime(std::floor(date.value())));
}

datetime calendar::step_to_business_day(const datetime& date, int step) const {
  datetime d = date;
  for (int i = 0; i < max_consecutive_holidays; ++i) {
    d = d.add_days(step);
    if (is_business_day(d)) return d;
  }
  TARVEX_FAIL("no business day within ", max_consecutive_holidays, " days of ", date.to_string());
}

datetime calendar::adjust(const datetime& date, business_day_convention convention) const {
  if (convention == business_day_convention::unadjusted || is_business_day(date)) return date;
  switch (convention) {
    case business_day_convention::following:
      return step_to_business_day(date, 1);
    case business_day_convention::modified_following: {
      const datetime next = step_to_business_day(date, 1);
      return next.month() == date.month() ? next : step_to_business_day(date, -1);
    }
    case business_day_convention::preceding:
      return step_to_business_day(date, -1);
    case business_day_convention::unadjusted:
      break;
  }
  TARVEX_FAIL("unknown business day convention ", static_cast<int>(convention));
}

datetime calendar::advance_business_days(const datetime& date, int n) const {
  const int step = n < 0 ? -1 : 1;
  datetime d = date;
  for (int i = 0; i != n; i += step) d = step_to_business_day(d, step);
  return d;
}

}  // namespace tarvex
