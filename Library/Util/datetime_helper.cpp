#include "Util/datetime_helper.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Core/check.h"

namespace tarvex {

std::size_t datetime_helper::date_offset(const datetime& date, const std::vector<datetime>& dates, bool flag) {
  TARVEX_CHECK(!dates.empty(), "date_offset needs at least one date");
  if (flag) {
    const auto it = std::upper_bound(dates.begin(), dates.end(), date);
    return it == dates.begin() ? 0 : static_cast<std::size_t>(it - dates.begin()) - 1;
  }
  const auto it = std::lower_bound(dates.begin(), dates.end(), date);
  return it == dates.end() ? dates.size() - 1 : static_cast<std::size_t>(it - dates.begin());
}

void datetime_helper::merge_dates(const std::vector<datetime>& a, const std::vector<datetime>& b,
                                  std::vector<datetime>& out) {
  // Built aside and moved in: `a` or `b` may be `out` itself, and inserting a vector's
  // own range into it is undefined. Sorting the lot also copes with an `out` that was
  // filled in any order.
  std::vector<datetime> merged;
  merged.reserve(out.size() + a.size() + b.size());
  merged.insert(merged.end(), out.begin(), out.end());
  merged.insert(merged.end(), a.begin(), a.end());
  merged.insert(merged.end(), b.begin(), b.end());
  std::sort(merged.begin(), merged.end());
  merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
  out = std::move(merged);
}

void datetime_helper::interpolate_from_subset_dates(const std::vector<datetime>& all_dates,
                                                    const std::vector<datetime>& subset_dates,
                                                    std::vector<std::size_t>& out) {
  TARVEX_CHECK(!subset_dates.empty(), "interpolate_from_subset_dates needs at least one subset date");
  out.resize(all_dates.size());
  std::size_t j = 0;
  for (std::size_t i = 0; i < all_dates.size(); ++i) {
    while (j + 1 < subset_dates.size() && !(all_dates[i] < subset_dates[j + 1])) ++j;
    out[i] = j;
  }
}

void datetime_helper::index_subset_dates(const std::vector<datetime>& all_dates,
                                         const std::vector<datetime>& subset_dates, std::vector<std::size_t>& out) {
  out.resize(subset_dates.size());
  auto it = all_dates.begin();
  for (std::size_t k = 0; k < subset_dates.size(); ++k) {
    it = std::lower_bound(it, all_dates.end(), subset_dates[k]);
    TARVEX_CHECK_TEXT(it != all_dates.end() && *it == subset_dates[k], "date ", subset_dates[k].to_string(),
                      " is not in the date grid");
    out[k] = static_cast<std::size_t>(it - all_dates.begin());
  }
}

datetime datetime_helper::add_tenor(const datetime& date, const tenor& t, int direction) {
  TARVEX_CHECK(direction == 1 || direction == -1, "direction ", direction);
  const long long n = static_cast<long long>(direction) * t.count();
  switch (t.units()) {
    case tenor::unit::days:
      return datetime(date.value() + static_cast<double>(n));
    case tenor::unit::weeks:
      return datetime(date.value() + static_cast<double>(7 * n));
    case tenor::unit::months:
    case tenor::unit::years: {
      const long long months = t.units() == tenor::unit::years ? 12 * n : n;
      const long long index = 12LL * date.year() + (date.month() - 1) + months;
      // Out-of-range years are left to the datetime constructor to report.
      const long long y = index >= 0 ? index / 12 : (index - 11) / 12;
      const int year = static_cast<int>(std::clamp(y, -1LL, 10000LL));
      const int month = static_cast<int>(index - 12 * y) + 1;
      const int length = datetime::days_in_month(year, month);
      const int day = date.is_end_of_month() ? length : std::min(date.day(), length);
      const double time_of_day = date.value() - std::floor(date.value());
      return datetime(datetime(year, month, day).value() + time_of_day);
    }
  }
  TARVEX_FAIL("unknown tenor unit ", static_cast<int>(t.units()));
}

std::vector<datetime> datetime_helper::schedule(const datetime& start, const datetime& end, const tenor& step) {
  TARVEX_CHECK(!(end < start), "schedule from ", start.to_string(), " to ", end.to_string());
  TARVEX_CHECK(step.count() > 0, "schedule step ", step.to_string());
  std::vector<datetime> dates{start};
  if (start == end) return dates;
  datetime next;
  for (int k = 1;; ++k) {
    next = add_tenor(start, tenor(k * step.count(), step.units()));
    if (!(next < end)) break;
    dates.push_back(next);
  }
  // A short last period is merged into the one before it rather than left as a stub.
  constexpr double min_stub_days = 7.0;
  if (next != end && dates.size() > 1 && end.value() - dates.back().value() < min_stub_days)
    dates.back() = end;
  else
    dates.push_back(end);
  return dates;
}

}  // namespace tarvex
