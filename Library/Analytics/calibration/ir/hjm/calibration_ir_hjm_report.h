#pragma once
#include <cstddef>
#include <vector>

#include "Math/optimization_algorithm_output.h"

namespace tarvex {

// How one HJM calibration ended: the optimiser's record, the fit of every target at
// the returned parameters, and the parameter entries the optimiser pushed onto their
// bounds (where the bounded map is flat and the fit cannot move them back).
struct calibration_ir_hjm_report {
  // One target, in the calibrator's construction order; normal vols in decimal.
  struct target {
    double strike = 0.0;
    double market = 0.0;
    // Priced afresh at the returned parameters, the boundary search run to convergence.
    double model = 0.0;
    // Whether the target entered the optimisation (all do with the all-targets flag).
    bool fitted = false;
    // model - market, in basis points.
    double difference_bp() const noexcept { return 1e4 * (model - market); }
  };

  // A decay or volatility entry within a millionth of its interval's width of a bound.
  struct bound_hit {
    bool decay = false;  // otherwise a volatility
    std::size_t row = 0;
    std::size_t factor = 0;
    double value = 0.0;
    bool upper = false;
  };

  // Stop reason (termination), iterations and costs of the Levenberg-Marquardt run.
  optimization_algorithm_output optimiser{0};
  std::vector<target> targets;
  // Root mean square and largest absolute difference over the fitted targets, in bp;
  // `worst` indexes `targets` (no fitted target: 0 bp and worst = targets.size()).
  double rms_bp = 0.0;
  double worst_bp = 0.0;
  std::size_t worst = 0;
  std::vector<bound_hit> at_bounds;

  bool converged() const noexcept { return optimiser.converged(); }
};

}  // namespace tarvex
