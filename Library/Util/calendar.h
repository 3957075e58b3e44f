#pragma once
#include <vector>

#include "Util/datetime.h"

namespace tarvex {

// How a date falling on a holiday is moved. Declared at namespace scope and also
// reachable as calendar::business_day_convention.
enum class business_day_convention {
  unadjusted,          // leave the date as it is
  following,           // next business day
  modified_following,  // next business day unless that changes the month, then previous
  preceding,           // previous business day
};

// Business-day calendar: optionally weekends plus an explicit list of holidays.
class calendar {
 public:
  using business_day_convention = ::tarvex::business_day_convention;

  // Weekends are holidays, no other holidays.
  calendar() = default;
  // Holidays are kept sorted, once each, as whole days (a time of day is dropped).
  calendar(bool use_weekends, std::vector<datetime> holidays);

  // Whether Saturdays and Sundays are holidays.
  bool use_weekends() const { return use_weekends_; }
  // The explicit holidays, sorted ascending.
  const std::vector<datetime>& dates() const { return holidays_; }

  // True unless the day is a weekend (when used) or a listed holiday.
  bool is_business_day(const datetime& date) const;
  // The date moved to a business day under the convention.
  datetime adjust(const datetime& date, business_day_convention convention) const;
  // The date moved by n business days (n < 0 goes back); n = 0 returns the date unchanged.
  datetime advance_business_days(const datetime& date, int n) const;

 private:
  // The next business day strictly after (step +1) or before (step -1) the date.
  datetime step_to_business_day(const datetime& date, int step) const;

  bool use_weekends_ = true;
  std::vector<datetime> holidays_;
};

}  // namespace tarvex
