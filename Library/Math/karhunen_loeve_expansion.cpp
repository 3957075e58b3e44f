#include "Math/karhunen_loeve_expansion.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/check.h"

namespace tarvex {
namespace {

// Index of the last time not after s (0 before the first).
std::size_t last_not_after(const std::vector<double>& times, double s) {
  const auto it = std::upper_bound(times.begin(), times.end(), s);
  return it == times.begin() ? 0 : static_cast<std::size_t>(it - times.begin()) - 1;
}

// Index of the first time not before s (the last beyond the end).
std::size_t first_not_before(const std::vector<double>& times, double s) {
  const auto it = std::lower_bound(times.begin(), times.end(), s);
  return it == times.end() ? times.size() - 1 : static_cast<std::size_t>(it - times.begin());
}

// Values on a uniform grid read by 4-point Lagrange interpolation, constant beyond
// the ends (the Gauss–Hermite nodes that fall there carry weights below 1e-10).
struct uniform_table {
  const double* values;
  std::size_t size;
  double low, inverse_spacing;

  double operator()(double y) const {
    const double u = (y - low) * inverse_spacing;
    if (!(u > 0.0)) return values[0];
    const double last = static_cast<double>(size - 1);
    if (u >= last) return values[size - 1];
    std::size_t k = static_cast<std::size_t>(u);
    k = std::clamp<std::size_t>(k, 1, size - 3);
    const double s = u - static_cast<double>(k);  // in [-1, 2]
    const double* v = values + k - 1;
    const double sm1 = s - 1.0, sm2 = s - 2.0, sp1 = s + 1.0;
    return -s * sm1 * sm2 / 6.0 * v[0] + sp1 * sm1 * sm2 / 2.0 * v[1] - sp1 * s * sm2 / 2.0 * v[2] +
           sp1 * s * sm1 / 6.0 * v[3];
  }
};

}  // namespace

karhunen_loeve_expansion::karhunen_loeve_expansion(double t, double T, double mean_reversion,
                                                   const std::vector<double>& levels,
                                                   const std::vector<double>& levels_times,
                                                   const std::vector<double>& volatilities_square,
                                                   const std::vector<double>& volatilities_times, double time_step,
                                                   std::size_t grid_size)
    : grid_size_(grid_size) {
  TARVEX_CHECK(levels.size() == levels_times.size() && !levels.empty(), "levels size ", levels.size(),
               " and levels times size ", levels_times.size());
  TARVEX_CHECK(volatilities_square.size() == volatilities_times.size() && !volatilities_square.empty(),
               "volatilities size ", volatilities_square.size(), " and volatilities times size ",
               volatilities_times.size());
  TARVEX_CHECK(time_step > 0.0 && t <= T && grid_size >= 4, "time step ", time_step, " from ", t, " to ", T,
               " on ", grid_size, " grid points");
  // Cut points: t, every parameter date strictly inside, T.
  std::vector<double> cuts{t};
  for (const auto* dates : {&levels_times, &volatilities_times})
    for (double s : *dates)
      if (s > t && s < T) cuts.push_back(s);
  cuts.push_back(T);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  times_.push_back(t);
  for (std::size_t c = 1; c < cuts.size(); ++c) {
    const double a = cuts[c - 1], b = cuts[c];
    const auto pieces = static_cast<std::size_t>(std::max(1.0, std::ceil((b - a) / time_step - 1e-9)));
    const double level = levels[last_not_after(levels_times, a)];
    const double variance = volatilities_square[first_not_before(volatilities_times, b)];
    for (std::size_t k = 1; k <= pieces; ++k) {
      const double end = k == pieces ? b : a + (b - a) * static_cast<double>(k) / static_cast<double>(pieces);
      const double d = end - times_.back();
      // Var = sigma^2 (1 - exp(-2 kappa d)) / (2 kappa), sigma^2 d as kappa -> 0.
      const double x = 2.0 * mean_reversion * d;
      const double factor = std::fabs(x) < std::numeric_limits<double>::epsilon() ? d : -std::expm1(-x) / (2.0 * mean_reversion);
      steps_.push_back({d, level, std::exp(-mean_reversion * d), std::sqrt(variance * factor)});
      times_.push_back(end);
    }
  }
}

void karhunen_loeve_expansion::survival_probability(const vector<double>& x, double g, const vector<double>& roots,
                                                    const vector<double>& weights, vector<double>& out) const {
  details::check_size(roots.size(), weights.size());
  const std::size_t states = x.size(), nodes = roots.size(), steps = steps_.size();
  if (out.size() != states) out = vector<double>(states);
  if (states == 0) return;
  if (steps == 0) {
    out.fill(1.0);
    return;
  }
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (std::size_t p = 0; p < states; ++p) {
    low = std::min(low, g * x[p]);
    high = std::max(high, g * x[p]);
  }
  bool deterministic = true;
  for (const auto& s : steps_) deterministic = deterministic && s.sd == 0.0;
  if (deterministic) {
    // No noise: the path is y0 times the decays; the trapezoids are summed directly.
    // Compensated sum: hundreds of steps, and the limit is checked to rounding.
    for (std::size_t p = 0; p < states; ++p) {
      double y = g * x[p], integral = 0.0, carry = 0.0;
      for (const auto& s : steps_) {
        const double next = s.decay * y;
        const double term = 0.5 * s.length * (std::exp(s.level + y) + std::exp(s.level + next)) - carry;
        const double sum = integral + term;
        carry = (sum - integral) - term;
        integral = sum;
        y = next;
      }
      out[p] = std::exp(-integral);
    }
    return;
  }

  // Support of y(s_i) given y(t) in [low, high]: decayed ends +- 7 sd.
  const std::size_t m = grid_size_;
  std::vector<double> grid_low(steps + 1), grid_high(steps + 1);
  {
    double decay = 1.0, variance = 0.0;
    grid_low[0] = low;
    grid_high[0] = high;
    for (std::size_t i = 0; i < steps; ++i) {
      decay *= steps_[i].decay;
      variance = steps_[i].decay * steps_[i].decay * variance + steps_[i].sd * steps_[i].sd;
      const double w = 7.0 * std::sqrt(variance) + 1e-12;
      grid_low[i + 1] = decay * low - w;
      grid_high[i + 1] = decay * high + w;
    }
  }
  vector<double> next(m, 1.0), current(m), shocks(nodes);
  // One step back from s_{i+1} (values `next` on grid i+1) to the points ys.
  const auto roll = [&](std::size_t i, const double* ys, std::size_t count, double* into) {
    const auto& s = steps_[i];
    const double half = 0.5 * s.length, rate = std::exp(s.level);
    for (std::size_t k = 0; k < nodes; ++k) shocks[k] = s.sd * roots[k];
    const bool flat = i + 1 == steps;  // u_N = 1
    const uniform_table table{next.data(), m, grid_low[i + 1],
                              static_cast<double>(m - 1) / (grid_high[i + 1] - grid_low[i + 1])};
    for (std::size_t j = 0; j < count; ++j) {
      const double mean = s.decay * ys[j];
      double sum = 0.0;
      for (std::size_t k = 0; k < nodes; ++k) {
        const double y = mean + shocks[k];
        const double value = flat ? 1.0 : table(y);
        sum += weights[k] * std::exp(-half * rate * std::exp(y)) * value;
      }
      into[j] = std::exp(-half * rate * std::exp(ys[j])) * sum;
    }
  };
  vector<double> nodes_y(m);
  for (std::size_t i = steps - 1; i >= 1; --i) {
    const double h = (grid_high[i] - grid_low[i]) / static_cast<double>(m - 1);
    for (std::size_t j = 0; j < m; ++j) nodes_y[j] = grid_low[i] + h * static_cast<double>(j);
    roll(i, nodes_y.data(), m, current.data());
    std::swap(next, current);
  }
  vector<double> y0(states);
  for (std::size_t p = 0; p < states; ++p) y0[p] = g * x[p];
  roll(0, y0.data(), states, out.data());
}

}  // namespace tarvex
