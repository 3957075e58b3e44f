#pragma once
#include <cstddef>

namespace tarvex {

// Settings of levenberg_marquardt. The three counts come from the constructor; the
// remaining members have defaults that suit a well-scaled problem and are usually set
// one by one after construction, in the order they are declared.
//
// Notation: the cost is F(x) = 1/2 |r(x)|^2, J the Jacobian of r, g = J^T r, A = J^T J,
// D = diag(d) the Marquardt scaling (d_j is the largest A_jj seen so far, 1 for a
// column that has always been zero). A trial step h solves (A + mu D) h = -g, and its
// gain ratio is rho = (F(x) - F(x + h)) / (L(0) - L(h)), the actual reduction over the
// one the linear model L predicted.
struct lm_parameters {
  // Counts of residuals and unknowns, and the iteration cap.
  lm_parameters(std::size_t number_of_residuals, std::size_t number_of_unknowns, int max_iterations)
      : number_of_residuals(number_of_residuals), number_of_unknowns(number_of_unknowns),
        max_iterations(max_iterations) {}

  // Length of r(x).
  std::size_t number_of_residuals;
  // Length of x.
  std::size_t number_of_unknowns;
  // Most trial steps (each factorisation of the damped system is one, accepted or
  // not); 0 evaluates the residuals at the starting point and returns it.
  int max_iterations;

  // Without a Jacobian function: central differences (2 residual evaluations per
  // unknown, error O(h^2)) instead of forward differences (1 per unknown, O(h)).
  bool central_differences = false;
  // A step with rho above this lowers the damping (the linear model is trusted
  // more); an accepted step with rho below 1 - good_step_ratio raises it.
  double good_step_ratio = 0.75;
  // A trial step is accepted when rho is above this; 0 accepts any strict decrease.
  double acceptance_ratio = 0.0;
  // Relative finite-difference step: unknown j moves by this times max(|x_j|, 1).
  // 0 picks sqrt(epsilon) for forward and cbrt(epsilon) for central differences,
  // which balance truncation against rounding for residuals known to full precision.
  double finite_difference_step = 0.0;
  // Stops when any of these holds (0 disables all three but exact zeros):
  //   gradient: max_j |g_j| / (|J_j| |r|) <= tolerance, the cosine between r and
  //             every Jacobian column, so residual and unknown scales cancel;
  //   step:     |h| <= tolerance (|x| + tolerance);
  //   relative reduction: an accepted step whose actual and predicted reductions are
  //             both at most tolerance * F.
  double tolerance = 1e-10;
  // Starting damping mu, relative to the scaling: 0.01 adds one percent of each
  // diagonal entry of A, close to Gauss-Newton from a reasonable starting point.
  double initial_damping = 0.01;
  // Smallest factor by which one good step lowers mu. A good step multiplies mu by
  // max(minimum_damping_decrease, 1 - (2 rho - 1)^3) (Nielsen's rule), so only a
  // near-perfect prediction cuts it by the full factor.
  double minimum_damping_decrease = 0.1;
  // Nielsen's growth factor nu, an integer of at least 2: a rejected step multiplies mu
  // by nu and then nu by this; any accepted step resets nu to it, and a poor accepted
  // step multiplies mu by it once. Consecutive rejections so escalate quickly.
  int damping_growth = 2;
};

}  // namespace tarvex
