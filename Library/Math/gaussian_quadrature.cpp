#include "Math/gaussian_quadrature.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {
namespace {

constexpr double pi_to_minus_quarter = 0.7511255444649425;  // pi^(-1/4)

// psi_n(z) and psi_{n-1}(z) of the orthonormal Hermite functions (weight exp(-z^2)).
void hermite_pair(std::size_t n, double z, double& pn, double& pn1) {
  double p1 = pi_to_minus_quarter, p2 = 0.0;
  for (std::size_t j = 1; j <= n; ++j) {
    const double p3 = p2;
    p2 = p1;
    const double jd = static_cast<double>(j);
    p1 = z * std::sqrt(2.0 / jd) * p2 - std::sqrt((jd - 1.0) / jd) * p3;
  }
  pn = p1;
  pn1 = p2;
}

}  // namespace

void gaussian_quadrature::gauss_hermite_coefficients(std::size_t n, vector<double>& roots, vector<double>& weights,
                                                     bool physicists, double tolerance, int max_iterations) {
  TARVEX_CHECK(n >= 1 && n <= 400, "Gauss-Hermite order ", n, " is outside 1..400");
  if (roots.size() != n) roots = vector<double>(n);
  if (weights.size() != n) weights = vector<double>(n);
  const double nd = static_cast<double>(n);
  const std::size_t half = (n + 1) / 2;
  double z = 0.0;
  // Largest root first; the guesses are those of Numerical Recipes' gauher, which the
  // Newton steps then polish (they converge quadratically from every guess for n <= 400).
  for (std::size_t i = 0; i < half; ++i) {
    if (i == 0)
      z = std::sqrt(2.0 * nd + 1.0) - 1.85575 * std::pow(2.0 * nd + 1.0, -0.16667);
    else if (i == 1)
      z -= 1.14 * std::pow(nd, 0.426) / z;
    else if (i == 2)
      z = 1.86 * z - 0.86 * roots[n - 1];
    else if (i == 3)
      z = 1.91 * z - 0.91 * roots[n - 2];
    else
      z = 2.0 * z - roots[n - i + 1];
    double pn = 0.0, pn1 = 0.0, derivative = 1.0;
    for (int it = 0; it < max_iterations; ++it) {
      hermite_pair(n, z, pn, pn1);
      derivative = std::sqrt(2.0 * nd) * pn1;
      const double step = pn / derivative;
      z -= step;
      if (std::fabs(step) <= tolerance * std::fabs(z) || std::fabs(step) <= tolerance) break;
    }
    hermite_pair(n, z, pn, pn1);
    derivative = std::sqrt(2.0 * nd) * pn1;
    // The middle root of an odd rule is 0 exactly.
    if (n % 2 == 1 && i == half - 1) z = 0.0;
    roots[n - 1 - i] = z;
    roots[i] = -z;
    const double w = 2.0 / (derivative * derivative);
    weights[n - 1 - i] = w;
    weights[i] = w;
  }
  if (!physicists) {
    for (std::size_t i = 0; i < n; ++i) {
      roots[i] *= 1.4142135623730951;
      weights[i] /= 1.772453850905516;
    }
  }
}

}  // namespace tarvex
