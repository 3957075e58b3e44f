#pragma once
#include <cstddef>

#include "Vectorization/vector.h"

namespace tarvex {

// Gauss-Legendre and Gauss-Kronrod rules on [-1, 1].
struct gaussian_quadrature {
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
