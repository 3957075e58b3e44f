#include "Random/brownian_bridge.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {

brownian_bridge::brownian_bridge(std::size_t steps)
    : steps_(steps),
      bridge_(steps),
      left_(steps),
      right_(steps),
      left_weight_(steps),
      right_weight_(steps),
      deviation_(steps) {
  TARVEX_CHECK(steps > 0, "a Brownian bridge needs at least one step");
  // map[k] != 0: point k is already fixed. Times are t_k = k + 1; left_ is one past the
  // fixed point on the left (0: the origin), right_ the fixed point on the right.
  std::vector<std::size_t> map(steps, 0);
  map[steps - 1] = 1;
  bridge_[0] = steps - 1;
  deviation_[0] = std::sqrt(static_cast<double>(steps));
  for (std::size_t i = 1, j = 0; i < steps; ++i) {
    while (map[j] != 0) ++j;
    std::size_t k = j;
    while (map[k] == 0) ++k;
    const std::size_t l = j + ((k - 1 - j) >> 1);
    map[l] = i;
    bridge_[i] = l;
    left_[i] = j;
    right_[i] = k;
    const double tl = static_cast<double>(l + 1), tk = static_cast<double>(k + 1), tj = static_cast<double>(j);
    left_weight_[i] = (tk - tl) / (tk - tj);
    right_weight_[i] = (tl - tj) / (tk - tj);
    deviation_[i] = std::sqrt((tl - tj) * (tk - tl) / (tk - tj));
    j = k + 1;
    if (j >= steps) j = 0;
  }
}

void brownian_bridge::transform(const double* z, double* increments, std::size_t lanes) const {
  // W is built in `increments` itself, then differenced from the last row down.
  double* w = increments;
  {
    double* out = w + bridge_[0] * lanes;
    for (std::size_t p = 0; p < lanes; ++p) out[p] = deviation_[0] * z[p];
  }
  for (std::size_t i = 1; i < steps_; ++i) {
    double* out = w + bridge_[i] * lanes;
    const double* zi = z + i * lanes;
    const double* right = w + right_[i] * lanes;
    const double rw = right_weight_[i], dev = deviation_[i];
    if (left_[i] == 0) {
      for (std::size_t p = 0; p < lanes; ++p) out[p] = rw * right[p] + dev * zi[p];
    } else {
      const double* left = w + (left_[i] - 1) * lanes;
      const double lw = left_weight_[i];
      for (std::size_t p = 0; p < lanes; ++p) out[p] = lw * left[p] + rw * right[p] + dev * zi[p];
    }
  }
  for (std::size_t k = steps_ - 1; k > 0; --k) {
    double* row = w + k * lanes;
    const double* previous = row - lanes;
    for (std::size_t p = 0; p < lanes; ++p) row[p] -= previous[p];
  }
}

}  // namespace tarvex
