#pragma once
#include <cstddef>

#include "Vectorization/vector.h"

namespace tarvex {

// Grids of points on an interval.
struct discretization {
  // `count` equally spaced points from low to high, both ends exact (count >= 2; one
  // point gives low). `center` is a point the grid must hold exactly when it lies on
  // a node position (low + k h up to rounding): that node is set to it, so a grid
  // symmetric about 0 has an exact 0 in the middle. `out` is resized when needed.
  static void uniform(vector<double>& out, std::size_t count, double low, double high, double center);
};

}  // namespace tarvex
