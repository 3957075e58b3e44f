#pragma once
#include <cstddef>

#include "Vectorization/vector.h"

namespace tarvex {

// Nodes and weights of Gaussian quadrature rules.
struct gaussian_quadrature {
  // The n-point Gauss–Hermite rule, nodes ascending and exactly symmetric about 0.
  // physicists: weight exp(-u^2) (weights sum to sqrt(pi)); otherwise the standard
  // normal density (nodes times sqrt(2), weights divided by sqrt(pi), sum 1).
  //
  // Newton's method on the three-term recurrence of the orthonormal Hermite
  // functions, one positive root at a time from asymptotic first guesses, each
  // polished until the relative Newton step is below `tolerance` or `max_iterations`
  // steps are spent. Chosen over Golub–Welsch because the weight 2 / psi_n'(u)^2 comes
  // out with full relative accuracy even where it is 1e-40 small (n = 100), and the
  // orthonormal recurrence never overflows; the cost is O(n^2), as for an eigensolver.
  // Exact for polynomials of degree up to 2n - 1. Expects 1 <= n <= 400.
  static void gauss_hermite_coefficients(std::size_t n, vector<double>& roots, vector<double>& weights,
                                         bool physicists, double tolerance, int max_iterations);
};

}  // namespace tarvex
