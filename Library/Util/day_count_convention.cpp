#include "Util/day_count_convention.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {
namespace {

double thirty_360(const datetime& from, const datetime& to) {
  int d1 = from.day();
  int d2 = to.day();
  if (d1 == 31) d1 = 30;
  if (d2 == 31 && d1 >= 30) d2 = 30;
  const int days = 360 * (to.year() - from.year()) + 30 * (to.month() - from.month()) + (d2 - d1);
  return days / 360.0;
}

double year_length(int year) { return datetime::is_leap_year(year) ? 366.0 : 365.0; }

// Expects from <= to.
double act_act_isda(const datetime& from, const datetime& to) {
  const int y1 = from.year();
  const int y2 = to.year();
  if (y1 == y2) return from.days_until(to) / year_length(y1);
  const double head = from.days_until(datetime(y1 + 1, 1, 1)) / year_length(y1);
  const double tail = datetime(y2, 1, 1).days_until(to) / year_length(y2);
  return head + (y2 - y1 - 1) + tail;
}

}  // namespace

day_count_convention::day_count_convention(day_count_convention_type type, std::shared_ptr<const calendar> cal)
    : type_(type), calendar_(std::move(cal)) {
  const auto code = static_cast<std::int32_t>(type);
  TARVEX_CHECK_TEXT(code >= 0 && code <= 3, "unknown day count convention type ", code);
}

double day_count_convention::fraction(const datetime& from, const datetime& to) const {
  switch (type_) {
    case day_count_convention_type::act_365_fixed:
      return (to.value() - from.value()) / 365.0;
    case day_count_convention_type::act_360:
      return (to.value() - from.value()) / 360.0;
    case day_count_convention_type::thirty_360:
      // The 31st rules are not symmetric, so the earlier date always plays D1.
      return to < from ? -thirty_360(to, from) : thirty_360(from, to);
    case day_count_convention_type::act_act_isda:
      return to < from ? -act_act_isda(to, from) : act_act_isda(from, to);
  }
  TARVEX_FAIL("unknown day count convention type ", static_cast<std::int32_t>(type_));
}

std::string day_count_convention::name() const {
  switch (type_) {
    case day_count_convention_type::act_365_fixed: return "ACT/365F";
    case day_count_convention_type::act_360: return "ACT/360";
    case day_count_convention_type::thirty_360: return "30/360";
    case day_count_convention_type::act_act_isda: return "ACT/ACT ISDA";
  }
  TARVEX_FAIL("unknown day count convention type ", static_cast<std::int32_t>(type_));
}

}  // namespace tarvex
