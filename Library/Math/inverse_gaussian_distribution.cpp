#include "Math/inverse_gaussian_distribution.h"

#include <cmath>
#include <limits>

#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

// Mills ratio N(-w) / n(w) for w >= 8 by its continued fraction
// 1 / (w + 1 / (w + 2 / (w + 3 / ...))), evaluated bottom up; 40 levels give full
// double precision there.
double mills_ratio(double w) {
  double t = w;
  for (int k = 40; k >= 1; --k) t = w + k / t;
  return 1.0 / t;
}

}  // namespace

double inverse_gaussian_distribution::cdf(double x, double mu, double lambda) {
  if (!(x > 0.0)) return 0.0;
  if (std::isinf(x)) return 1.0;
  const double r = std::sqrt(lambda / x);
  const double first = normalcdf(r * (x / mu - 1.0));
  const double w = r * (x / mu + 1.0);
  // w^2/2 >= 2 lambda/mu, so below w = 8 the exponential is at most e^32.
  if (w < 8.0) return first + std::exp(2.0 * lambda / mu) * normalcdf(-w);
  const double d = x - mu;
  return first + std::exp(-lambda * d * d / (2.0 * mu * mu * x)) / std::sqrt(2.0 * M_PI) * mills_ratio(w);
}

double inverse_gaussian_distribution::laplace(double s, double mu, double lambda) {
  const double q = 2.0 * s * mu * mu / lambda;
  // 1 - sqrt(1 + q) = -q / (1 + sqrt(1 + q)), without cancellation for small q.
  return std::exp(-(lambda / mu) * q / (1.0 + std::sqrt(1.0 + q)));
}

double inverse_gaussian_distribution::tilted_mean(double s, double mu, double lambda) {
  return mu / std::sqrt(1.0 + 2.0 * s * mu * mu / lambda);
}

}  // namespace tarvex
