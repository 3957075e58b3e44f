#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "Util/calendar.h"
#include "Util/datetime.h"

namespace tarvex {

// Stored codes (they appear in files, so they never change):
//   0 ACT/365F      actual days / 365
//   1 ACT/360       actual days / 360
//   2 30/360        ISDA 2006 "30/360 Bond Basis": D1 = 31 -> 30; D2 = 31 and D1 >= 30 -> 30
//   3 ACT/ACT ISDA  days in each calendar year / that year's length (365 or 366), summed
enum class day_count_convention_type : std::int32_t {
  act_365_fixed = 0,
  act_360 = 1,
  thirty_360 = 2,
  act_act_isda = 3,
};

// Year fraction between two dates under a market day-count rule.
class day_count_convention {
 public:
  // Expects one of the codes above; the calendar is optional and kept for callers.
  day_count_convention(day_count_convention_type type = day_count_convention_type::act_365_fixed,
                       std::shared_ptr<const calendar> cal = nullptr);

  // The rule.
  day_count_convention_type type() const { return type_; }
  // The calendar given at construction, possibly null.
  const std::shared_ptr<const calendar>& calendar_ptr() const { return calendar_; }

  // Year fraction from `from` to `to`; negative when `to` is earlier. The ACT rules use
  // the exact serial difference, 30/360 and ACT/ACT the whole-day dates.
  double fraction(const datetime& from, const datetime& to) const;
  // Market name: "ACT/365F", "ACT/360", "30/360" or "ACT/ACT ISDA".
  std::string name() const;

 private:
  day_count_convention_type type_;
  std::shared_ptr<const calendar> calendar_;
};

}  // namespace tarvex
