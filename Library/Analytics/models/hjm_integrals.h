#pragma once
// Scaled exponential integrals of the Gaussian HJM model, written so that they stay
// accurate as the decay rate goes to zero. With w = kappa * tau:
//   E(x)  = expm1(x) / x                              (mean of e^{x s} over s in [0, 1])
//   G(w)  = (expm1(w) - w) / w^2                      = sum_{n>=2} w^{n-2} / n!
//   F1(w) = (E(2w) - E(w)) / w                        = int_0^1 e^{ws} expm1(ws)/w ds
//   F2(w) = (E(2w) - 2 E(w) + 1) / w^2                = int_0^1 (expm1(ws)/w)^2 ds
// The closed forms lose digits as 1/w and 1/w^2 when w is small, so the
// power series are summed instead: below |w| = 1 the closed forms of F2 would lose
// a few ulps, while 30 terms of the series (falling like 2^n / n!) reach 1 ulp.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace tarvex::hjm_integrals {

inline constexpr double epsilon = std::numeric_limits<double>::epsilon();
inline constexpr double series_switch = 1.0;
inline constexpr int series_terms = 30;

// expm1(x)/x, with the first-order expansion below machine epsilon.
inline double E(double x) { return std::fabs(x) >= epsilon ? std::expm1(x) / x : 1.0 + 0.5 * x; }

// (expm1(w) - w) / w^2.
inline double G(double w) {
  if (std::fabs(w) >= series_switch) return (std::expm1(w) - w) / (w * w);
  double sum = 0.0, term = 0.5;  // w^{n-2}/n! from n = 2
  for (int n = 2; n < 2 + series_terms; ++n) {
    sum += term;
    term *= w / (n + 1);
  }
  return sum;
}

// int_0^1 e^{ws} expm1(ws)/w ds = sum_{n>=1} (2^n - 1) w^{n-1} / ((n+1) n!).
inline double F1(double w) {
  if (std::fabs(w) >= series_switch) return (E(2 * w) - E(w)) / w;
  double sum = 0.0, power = 1.0, factorial = 1.0, two = 2.0;  // w^{n-1}, n!, 2^n at n = 1
  for (int n = 1; n <= series_terms; ++n) {
    sum += (two - 1.0) * power / ((n + 1) * factorial);
    power *= w;
    factorial *= n + 1;
    two *= 2.0;
  }
  return sum;
}

// int_0^1 (expm1(ws)/w)^2 ds = sum_{n>=2} (2^n - 2) w^{n-2} / ((n+1) n!).
inline double F2(double w) {
  if (std::fabs(w) >= series_switch) return (E(2 * w) - 2 * E(w) + 1.0) / (w * w);
  double sum = 0.0, power = 1.0, factorial = 2.0, two = 4.0;  // w^{n-2}, n!, 2^n at n = 2
  for (int n = 2; n < 2 + series_terms; ++n) {
    sum += (two - 2.0) * power / ((n + 1) * factorial);
    power *= w;
    factorial *= n + 1;
    two *= 2.0;
  }
  return sum;
}

// Nodes and weights of 12-point Gauss-Legendre on [0, 1], found once by Newton's method.
struct legendre_rule {
  static constexpr int size = 12;
  std::array<double, size> nodes{}, weights{};
  legendre_rule() {
    for (int i = 0; i < size; ++i) {
      double x = std::cos(M_PI * (i + 0.75) / (size + 0.5)), dp = 1.0;
      for (int it = 0; it < 100; ++it) {
        double p0 = 1.0, p1 = x;
        for (int k = 2; k <= size; ++k) {
          const double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = size * (x * p1 - p0) / (x * x - 1.0);
        const double dx = p1 / dp;
        x -= dx;
        if (std::fabs(dx) < 1e-17) break;
      }
      nodes[i] = 0.5 * (1.0 - x);
      weights[i] = 1.0 / ((1.0 - x * x) * dp * dp);  // half of 2 / ((1 - x^2) P'^2)
    }
  }
};

// (1 - e^{-z}) / z, 1 at 0.
inline double phi(double z) { return std::fabs(z) >= epsilon ? -std::expm1(-z) / z : 1.0 - 0.5 * z; }

// int_0^1 e^{(a+b)s} (1 - e^{-bs})/b ds = (E(a+b) - E(a))/b, so F1(w) = H(w, w). The
// difference loses digits like 1/b, so for |b| < 1/2 the integral is summed by
// Gauss-Legendre on pieces over which the exponent moves by at most 2 (12 points then
// reach 1e-20 relative).
inline double H(double a, double b) {
  if (std::fabs(b) >= 0.5) return (E(a + b) - E(a)) / b;
  static const legendre_rule rule;
  const int pieces = std::clamp(static_cast<int>(std::ceil(std::fabs(a + b) / 2.0)), 1, 256);
  const double h = 1.0 / pieces;
  double sum = 0.0;
  for (int p = 0; p < pieces; ++p)
    for (int i = 0; i < legendre_rule::size; ++i) {
      const double s = (p + rule.nodes[i]) * h;
      sum += rule.weights[i] * std::exp((a + b) * s) * s * phi(b * s);
    }
  return sum * h;
}

}  // namespace tarvex::hjm_integrals
