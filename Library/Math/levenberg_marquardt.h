#pragma once
#include <functional>

#include "Math/lm_parameters.h"
#include "Math/optimization_algorithm_output.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Nonlinear least squares: minimises 1/2 |r(x)|^2 by Levenberg-Marquardt with
// Marquardt's diagonal scaling and Nielsen's damping updates (lm_parameters documents
// every setting). The damped normal equations are solved by Cholesky; a factorisation
// that fails counts as a rejected step and raises the damping.
//
// Residual and Jacobian functions receive the trial point and write into buffers of
// the right size (r: number_of_residuals; J: residuals x unknowns, row-major, so row i
// is the gradient of r_i). Non-finite residuals at a trial point reject the step, so a
// residual may return NaN outside its domain. The last call of the residual function
// is always made at the returned solution, so callers whose residual function updates
// a model in place are left with the model at the optimum.
class levenberg_marquardt {
 public:
  using residual_function = std::function<void(const vector<double>& x, vector<double>& r)>;
  using jacobian_function = std::function<void(const vector<double>& x, matrix<double>& jacobian)>;

  // Finite-difference Jacobians (lm_parameters::central_differences picks the scheme).
  levenberg_marquardt(const lm_parameters& parameters, residual_function residuals);
  // Analytic Jacobian; an empty function falls back to finite differences.
  levenberg_marquardt(const lm_parameters& parameters, residual_function residuals, jacobian_function jacobian);

  // Runs from x0 (number_of_unknowns entries) and returns the filled record.
  optimization_algorithm_output operator()(const vector<double>& x0) const;

  const lm_parameters& parameters() const noexcept { return parameters_; }

 private:
  lm_parameters parameters_;
  residual_function residuals_;
  jacobian_function jacobian_;
};

}  // namespace tarvex
