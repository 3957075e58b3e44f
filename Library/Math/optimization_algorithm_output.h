#pragma once
#include <cstddef>
#include <iosfwd>

#include "Vectorization/vector.h"

namespace tarvex {

// Why an optimisation stopped.
enum class optimization_termination : int {
  not_run = 0,             // the record was never filled
  gradient_tolerance,      // gradient test passed (also: residuals exactly zero)
  step_tolerance,          // the next step was negligible against x
  relative_reduction,      // the cost stopped decreasing relative to itself
  iteration_limit,         // max_iterations trial steps taken
  non_finite_residuals,    // the residuals at the starting point are not finite
  non_finite_jacobian,     // the Jacobian at an accepted point is not finite
  damping_overflow,        // every step was rejected until the damping overflowed
};

// Readable reason, e.g. "relative reduction of the cost below tolerance".
const char* to_string(optimization_termination reason);

// Result of an optimisation run: a plain record the optimiser fills.
struct optimization_algorithm_output {
  // A record for `number_of_unknowns` unknowns: solution zero, nothing run yet.
  explicit optimization_algorithm_output(std::size_t number_of_unknowns) : solution(number_of_unknowns) {}

  // Best point found; the optimiser's last residual evaluation was made here.
  vector<double> solution;
  // r(solution).
  vector<double> residuals;
  // 1/2 |r|^2 at the starting point and at the solution.
  double initial_cost = 0.0;
  double cost = 0.0;
  // Trial steps taken, counted as lm_parameters::max_iterations counts them.
  std::size_t iterations = 0;
  // Every call of the residual function, finite-difference calls included.
  std::size_t residual_evaluations = 0;
  // Jacobians built: calls of the Jacobian function, or finite-difference sweeps.
  std::size_t jacobian_evaluations = 0;
  optimization_termination termination = optimization_termination::not_run;

  // True when one of the tolerance tests stopped the run.
  bool converged() const noexcept;
  // |r| at the solution.
  double residual_norm() const noexcept;

  // Logs the report line by line at verbosity 0 when the logger's cut-off admits it:
  // callers ask for it explicitly (calibrations in debug mode), so it shows under the
  // default cut-off.
  void print() const;
  // Writes the same report to `out`, one line per item.
  void print(std::ostream& out) const;
};

}  // namespace tarvex
