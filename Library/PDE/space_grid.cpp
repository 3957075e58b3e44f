#include "PDE/space_grid.h"

#include <cmath>
#include <utility>

#include "Core/check.h"

namespace tarvex {

space_grid::space_grid(vector<double> axis) : axis_(std::move(axis)) {
  TARVEX_CHECK_TEXT(!axis_.empty(), "space_grid axis must not be empty");
  bool valid = std::isfinite(axis_[0]);
  for (std::size_t i = 1; valid && i < axis_.size(); ++i)
    valid = std::isfinite(axis_[i]) && axis_[i - 1] < axis_[i];
  TARVEX_CHECK_TEXT(valid, "space_grid axis must be finite and strictly ascending");
}

space_grid space_grid::uniform(double low, double high, std::size_t count) {
  TARVEX_CHECK_TEXT(count >= 2, "space_grid::uniform needs at least 2 nodes");
  vector<double> axis(count);
  // std::lerp is exact at both ends, monotone, and avoids overflowing high - low.
  for (std::size_t i = 0; i < count; ++i)
    axis[i] = std::lerp(low, high, static_cast<double>(i) / static_cast<double>(count - 1));
  return space_grid(std::move(axis));
}

}  // namespace tarvex
