#pragma once
#include <cstddef>

#include "Vectorization/matrix.h"

namespace tarvex {

// Drift correction of one diffusion simulated under a measure other than its own:
// factor loadings A (one row per factor) and per-step loadings B (one row per
// simulation step), both with m columns. Either matrix empty switches it off.
class change_of_measure {
 public:
  // No correction: drift 0 for every step and factor.
  change_of_measure() = default;
  // Takes both matrices over; when both hold numbers their column counts must agree.
  change_of_measure(matrix<double>&& factor_loadings, matrix<double>&& step_loadings);

  const matrix<double>& factor_loadings() const noexcept { return factor_loadings_; }
  const matrix<double>& step_loadings() const noexcept { return step_loadings_; }
  bool active() const noexcept { return !factor_loadings_.empty() && !step_loadings_.empty(); }

  // Correction of factor `factor` at step `step`: row `factor` of A dot row `step` of B.
  double drift(std::size_t step, std::size_t factor) const;

 private:
  matrix<double> factor_loadings_;
  matrix<double> step_loadings_;
};

}  // namespace tarvex
