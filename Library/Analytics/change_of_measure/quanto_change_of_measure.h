#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Vectorization/matrix.h"

namespace tarvex {

class change_of_measure;
class diffusion;
class model_lognormal;

// Changes of measure for a simulation of several currencies under the domestic
// money-market measure.
//
// Under the foreign money-market measure the foreign Brownians W_f are standard; under
// the domestic one, with X (domestic per foreign) lognormal with factor increments
// v_g Z_g, dW_f = dW_f^domestic - rho(f, g) sigma_g dt (Girsanov with the density
// X B_foreign / (X(0) B_domestic)). Over a step that is the domestic draw minus
// sum_g rho(f, g) v_g(k) in units of one standard normal, which is what a model step
// takes as drift(k, f): A = the correlation between the diffusion's factors and the FX
// factors, B = the FX step volatilities. The correction is exact for factors whose
// volatility is constant within a step (the lognormal, the CIR factor draw) and exact
// to first order in the step for the HJM factors, whose kernels vary within it.

// The correction of one foreign diffusion: `factor_fx_correlation` has one row per
// factor of the diffusion and one column per factor of the FX model.
std::shared_ptr<const change_of_measure> quanto_change_of_measure(const matrix<double>& factor_fx_correlation,
                                                                  const model_lognormal& fx);

// A diffusion of the run that lives in a foreign currency, and the FX diffusion
// (a diffusion_fx_lognormal of the same run) that converts that currency to the domestic one.
struct foreign_diffusion {
  std::size_t diffusion;
  std::size_t fx;
};

// One change of measure per diffusion of a run (null for the domestic ones), the
// correlation being the run's full factor correlation in diffusion order.
std::vector<std::shared_ptr<const change_of_measure>> domestic_measure_changes(
    const std::vector<std::shared_ptr<const diffusion>>& diffusions, const matrix<double>& correlation,
    const std::vector<foreign_diffusion>& foreign);

}  // namespace tarvex
