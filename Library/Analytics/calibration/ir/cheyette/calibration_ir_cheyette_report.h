#pragma once
#include <cstddef>
#include <vector>

#include "Math/optimization_algorithm_output.h"

namespace tarvex {

// How one Cheyette calibration ended: the optimiser's record and, per target, the
// smile fit at the returned parameters (normal vols in decimal).
struct calibration_ir_cheyette_report {
  struct target {
    std::vector<double> strikes, market, model;
    std::vector<int> weights;  // 0 for a quote that repeats its predecessor
  };

  optimization_algorithm_output optimiser{0};
  std::vector<target> targets;
  // Root mean square and largest absolute model - market over the weighted strikes, bp.
  double rms_bp = 0.0;
  double worst_bp = 0.0;

  bool converged() const noexcept { return optimiser.converged(); }
};

}  // namespace tarvex
