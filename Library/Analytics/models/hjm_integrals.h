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

}  // namespace tarvex::hjm_integrals
