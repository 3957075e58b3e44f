#include "Math/discretization.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {

void discretization::uniform(vector<double>& out, std::size_t count, double low, double high, double center) {
  TARVEX_CHECK(count >= 1 && low <= high, "uniform grid of ", count, " points on [", low, ", ", high, "]");
  if (out.size() != count) out = vector<double>(count);
  if (count == 1) {
    out[0] = low;
    return;
  }
  const double span = high - low, last = static_cast<double>(count - 1);
  // Each node from both ends, so the grid is symmetric whenever [low, high] is.
  for (std::size_t j = 0; j < count; ++j) {
    const double jd = static_cast<double>(j);
    out[j] = jd <= last / 2 ? low + span * (jd / last) : high - span * ((last - jd) / last);
  }
  out[count - 1] = high;
  if (span > 0.0 && center > low && center < high) {
    const double k = (center - low) / span * last;
    const double nearest = std::round(k);
    if (std::fabs(k - nearest) < 1e-9) out[static_cast<std::size_t>(nearest)] = center;
  }
}

}  // namespace tarvex
