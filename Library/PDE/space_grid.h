#pragma once
#include <cstddef>

#include "Vectorization/vector.h"

namespace tarvex {

// Nodes of one spatial dimension: at least one node, finite and strictly ascending, so
// every spacing the finite-difference stencils divide by is positive.
class space_grid {
 public:
  // Takes the nodes; throws "space_grid axis must be finite and strictly ascending".
  explicit space_grid(vector<double> axis);

  // count >= 2 equally spaced nodes from low to high, both ends exact.
  static space_grid uniform(double low, double high, std::size_t count);

  // The nodes, ascending.
  const vector<double>& axis() const noexcept { return axis_; }
  // Number of nodes.
  std::size_t size() const noexcept { return axis_.size(); }

 private:
  vector<double> axis_;
};

}  // namespace tarvex
