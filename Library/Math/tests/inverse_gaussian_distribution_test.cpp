#include <gtest/gtest.h>

#include <cmath>

#include "Math/inverse_gaussian_distribution.h"

namespace tarvex {
namespace {

double density(double y, double mu, double lambda) {
  return std::sqrt(lambda / (2 * M_PI * y * y * y)) * std::exp(-lambda * (y - mu) * (y - mu) / (2 * mu * mu * y));
}

// Composite Simpson of f on [a, b] with n (even) panels.
template <class F>
double simpson(F f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4 : 2) * f(a + i * h);
  return s * h / 3;
}

// The closed form (both branches of the second term: lambda/mu from 0.5 to 5e4) against
// the integrated density, and the tilting identity the smile pricing uses:
// int_0^x e^{-s y} p(y) dy = laplace(s) cdf(x; mu_s, lambda).
TEST(inverse_gaussian_distribution, cdf_and_tilt_match_the_integrated_density) {
  struct c { double mu, lambda, s; };
  for (const c& p : {c{1.0, 0.5, 0.3}, c{0.02, 0.4, 40.0}, c{0.05, 2500.0, 300.0}, c{1.0, 3.0, 0.0}}) {
    const double mu = p.mu, lambda = p.lambda, s = p.s;  // not bindings: clang 14 cannot capture those
    const double sd = std::sqrt(mu * mu * mu / lambda);
    for (double k : {-1.5, -0.5, 0.0, 0.7, 2.5}) {
      const double x = mu + k * sd;
      if (x <= 0) continue;
      const double lo = 1e-9 * mu;
      const double plain = simpson([&](double y) { return density(y, mu, lambda); }, lo, x, 20000);
      EXPECT_NEAR(inverse_gaussian_distribution::cdf(x, mu, lambda), plain, 1e-9) << mu << " " << lambda << " " << x;
      const double tilted = simpson([&](double y) { return std::exp(-s * y) * density(y, mu, lambda); }, lo, x, 20000);
      const double closed = inverse_gaussian_distribution::laplace(s, mu, lambda) *
                            inverse_gaussian_distribution::cdf(x, inverse_gaussian_distribution::tilted_mean(s, mu, lambda), lambda);
      EXPECT_NEAR(closed, tilted, 1e-9) << mu << " " << lambda << " " << s << " " << x;
    }
  }
  EXPECT_EQ(inverse_gaussian_distribution::cdf(0.0, 1.0, 1.0), 0.0);
  EXPECT_EQ(inverse_gaussian_distribution::cdf(-1.0, 1.0, 1.0), 0.0);
  EXPECT_EQ(inverse_gaussian_distribution::cdf(INFINITY, 1.0, 1.0), 1.0);
}

}  // namespace
}  // namespace tarvex
