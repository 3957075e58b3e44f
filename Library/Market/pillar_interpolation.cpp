#include "Market/pillar_interpolation.h"

#include <algorithm>

#include "Core/check.h"

namespace tarvex {

std::vector<double> pillar_times(const datetime& origin, const std::vector<datetime>& dates,
                                 const day_count_convention& dc, std::string_view what) {
  std::vector<double> times(dates.size());
  for (std::size_t i = 0; i < dates.size(); ++i) {
    TARVEX_CHECK(origin < dates[i], what, " pillar ", dates[i].to_string(), " is not after the valuation date ",
                 origin.to_string());
    if (i > 0)
      TARVEX_CHECK(dates[i - 1] < dates[i], what, " pillar dates are not ascending at ", dates[i].to_string());
    times[i] = dc.fraction(origin, dates[i]);
    TARVEX_CHECK(times[i] > (i == 0 ? 0.0 : times[i - 1]), what, " pillar ", dates[i].to_string(),
                 " has no positive year fraction after the previous pillar");
  }
  return times;
}

double pillar_time(const datetime& origin, const datetime& date, const day_count_convention& dc,
                   std::string_view what) {
  TARVEX_CHECK(!(date < origin), what, " asked at ", date.to_string(), " before its valuation date ",
               origin.to_string());
  return dc.fraction(origin, date);
}

double log_linear_value(const std::vector<double>& times, const std::vector<double>& values, double t) {
  const std::size_t n = times.size();
  // Segment [t0, t1] holding t; past the end the last segment continues.
  auto it = std::lower_bound(times.begin(), times.end(), t);
  std::size_t hi = std::min<std::size_t>(static_cast<std::size_t>(it - times.begin()), n - 1);
  const double t0 = hi == 0 ? 0.0 : times[hi - 1];
  const double y0 = hi == 0 ? 0.0 : values[hi - 1];
  const double t1 = times[hi], y1 = values[hi];
  return y0 + (y1 - y0) * (t - t0) / (t1 - t0);
}

}  // namespace tarvex
