#include "Math/hartman_watson_distribution.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"

namespace tarvex {
namespace {

constexpr double pi = 3.141592653589793238462643383279502884;

// One application of a mirrored Kronrod rule on [lo, hi].
template <class F>
double apply_rule(const F& f, double lo, double hi, const vector<double>& nodes, const vector<double>& weights) {
  const double c = 0.5 * (lo + hi), h = 0.5 * (hi - lo);
  double sum = 0.0;
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    const double x = nodes[k];
    sum += weights[k] * (x == 0.0 ? f(c) : f(c - h * x) + f(c + h * x));
  }
  return sum * h;
}

// Bisects until the two rules agree within `tolerance` per unit length.
template <class F>
double adaptive(const F& f, double lo, double hi, double tolerance, const vector<double>& n1,
                const vector<double>& w1, const vector<double>& n2, const vector<double>& w2, int depth = 0) {
  const double coarse = apply_rule(f, lo, hi, n1, w1), fine = apply_rule(f, lo, hi, n2, w2);
  if (std::fabs(fine - coarse) <= tolerance * (hi - lo) || depth >= 12) return fine;
  const double mid = 0.5 * (lo + hi);
  return adaptive(f, lo, mid, tolerance, n1, w1, n2, w2, depth + 1) +
         adaptive(f, mid, hi, tolerance, n1, w1, n2, w2, depth + 1);
}

// log p(a, b; t) through Yor's integral, all exponents kept in logs.
double yor_density(double a, double b, double t, const vector<double>& n1, const vector<double>& w1,
                   const vector<double>& n2, const vector<double>& w2) {
  const double log_r = a - std::log(b), r = std::exp(log_r);
  // Envelope of the integrand's logarithm (the sine dropped).
  auto envelope = [&](double x) { return (pi * pi - x * x) / (2 * t) - r * std::cosh(x) + std::log(std::sinh(x)); };
  // Its maximum and the point beyond which it is 40 below the maximum (about 1e-17).
  double peak = -INFINITY, upper = 0.0;
  const double step = std::min(0.05, 0.1 * t);
  for (double x = step;; x += step) {
    const double e = envelope(x);
    peak = std::max(peak, e);
    if (e < peak - 40.0 && x > 1.0) {
      upper = x;
      break;
    }
    if (x > 1e3) {
      upper = x;
      break;
    }
  }
  auto integrand = [&](double x) {
    if (x <= 0.0) return 0.0;
    return std::exp(envelope(x) - peak) * std::sin(pi * x / t);
  };
  // Sub-intervals of half an oscillation before adaptivity, so no period is skipped.
  double integral = 0.0;
  const double width = std::max(t, 1e-3);
  for (double lo = 0.0; lo < upper; lo += width)
    integral += adaptive(integrand, lo, std::min(lo + width, upper), 1e-13, n1, w1, n2, w2);
  // Below the quadrature's resolution the cancellation leaves only noise: density 0.
  if (!(integral > 1e-11) || !std::isfinite(integral)) return -INFINITY;
  const double log_prefactor =
      -(1.0 + std::exp(2 * a)) / (2 * b) - std::log(b) + log_r - 0.5 * std::log(2 * pi * pi * pi * t);
  return log_prefactor + peak + std::log(integral);
}

// log p(a, b; t) from the exact law of W_t and a conditional lognormal A_t.
double small_time_density(double a, double b, double t, const vector<double>& n1, const vector<double>& w1,
                          const vector<double>& n2, const vector<double>& w2) {
  // In units of t: s = t v, u = t w; Cov(W_s, W_u | W_t) = t v (1 - w) for v <= w.
  auto first = [&](double v) { return std::exp(2 * a * v + 2 * t * v * (1 - v)); };
  const double m1 = t * apply_rule(first, 0.0, 1.0, n1, w1);
  auto outer = [&](double v) {
    auto inner = [&](double w) {
      return std::exp(2 * a * (v + w) + 2 * t * (v * (1 - v) + w * (1 - w) + 2 * v * (1 - w)));
    };
    return apply_rule(inner, v, 1.0, n1, w1);
  };
  const double m2 = 2 * t * t * apply_rule(outer, 0.0, 1.0, n2, w2);
  const double s2 = std::log(m2 / (m1 * m1)), mu = std::log(m1) - 0.5 * s2;
  const double z = (std::log(b) - mu);
  return -0.5 * a * a / t - 0.5 * std::log(2 * pi * t) - std::log(b) - 0.5 * std::log(2 * pi * s2) -
         z * z / (2 * s2);
}

}  // namespace

void hartman_watson_distribution::cheyette_density(vector<double>& a, vector<double>& b, double t,
                                                   const vector<double>& nodes_16, const vector<double>& weights_31,
                                                   const vector<double>& nodes_25, const vector<double>& weights_49) {
  TARVEX_CHECK(t > 0.0, "time ", t, " must be positive");
  details::check_size(a.size(), b.size());
  TARVEX_CHECK(weights_31.size() >= nodes_16.size() && weights_49.size() >= nodes_25.size(), "rules of ",
               nodes_16.size(), " and ", nodes_25.size(), " nodes with ", weights_31.size(), " and ",
               weights_49.size(), " weights");
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(b[i] > 0.0)) {
      a[i] = 0.0;
      continue;
    }
    const double log_p = t >= large_time ? yor_density(a[i], b[i], t, nodes_16, weights_31, nodes_25, weights_49)
                                         : small_time_density(a[i], b[i], t, nodes_16, weights_31, nodes_25, weights_49);
    a[i] = std::exp(log_p);
  }
}

}  // namespace tarvex
