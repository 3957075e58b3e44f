#pragma once
#include <cstddef>

#include "Vectorization/vector.h"

namespace tarvex {

// Nodes and weights of Gaussian quadrature rules: Gauss-Hermite for expectations over a
// normal variable, Gauss-Legendre and Gauss-Kronrod on [-1, 1].
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

  // The (2m+1)-point Kronrod extension of the m-point Gauss-Legendre rule, exact for
  // polynomials of degree 3m + 1 (m odd or even alike).
  //
  // nodes (m + 1 entries): the non-negative Kronrod nodes, from the largest down to 0;
  //   the Gauss nodes are those at odd indices counted from the largest (QUADPACK order).
  // weights (at least m + 1 entries): weights[k] is the Kronrod weight of nodes[k]; the
  //   full rule reads nodes -nodes[0] .. -nodes[m] = 0 .. nodes[0], and callers that want
  //   all 2m + 1 weights mirror them (weights[2m - k] = weights[k]).
  // gauss_weights (m + 1 entries): the embedded Gauss weight of nodes[k] (0 at the
  //   Kronrod-only nodes), for error estimates.
  //
  // The Kronrod nodes are the roots of the Stieltjes polynomial E_{m+1}, which is
  // orthogonal to every polynomial of degree <= m under the weight P_m; its Legendre
  // coefficients come from a small linear system solved in long double. Each root lies
  // between two Gauss nodes (interlacing holds for Legendre), so Newton steps start there
  // and stop when a step is below `tolerance` or after `max_iterations`. The weights make
  // the rule exact on P_0, P_2, ..., P_2m (the odd ones vanish by symmetry).
  static void gauss_kronrod(std::size_t m, vector<double>& nodes, vector<double>& weights,
                            vector<double>& gauss_weights, double tolerance, int max_iterations);

  // The m-point Gauss-Legendre rule: m nodes ascending and their weights.
  static void gauss_legendre(std::size_t m, vector<double>& nodes, vector<double>& weights);
};

}  // namespace tarvex
