#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Math/gaussian_quadrature.h"
#include "Math/karhunen_loeve_expansion.h"

namespace tarvex {
namespace {

struct intensity {
  double kappa;
  std::vector<double> levels, levels_times, vol2, vol_times;

  double level(double s) const {
    std::size_t j = 0;
    while (j + 1 < levels_times.size() && levels_times[j + 1] <= s) ++j;
    return levels[j];
  }
  double variance(double end) const {  // the row of the first date not before `end`
    std::size_t j = 0;
    while (j + 1 < vol_times.size() && vol_times[j] < end) ++j;
    return vol2[j];
  }
};

void standard_rule(std::size_t n, vector<double>& r, vector<double>& w) {
  gaussian_quadrature::gauss_hermite_coefficients(n, r, w, false, 2.220446049250313e-16, 20);
}

double lattice(const intensity& c, double t, double T, double y0, double step, std::size_t nodes,
               std::size_t grid = 401) {
  vector<double> r, w, out;
  standard_rule(nodes, r, w);
  karhunen_loeve_expansion kl(t, T, c.kappa, c.levels, c.levels_times, c.vol2, c.vol_times, step, grid);
  kl.survival_probability(vector<double>{y0}, 1.0, r, w, out);
  return out[0];
}

// Independent reference: exact Ornstein–Uhlenbeck transitions on a step `dt` (cut at
// the parameter dates), trapezoid on the intensity of each path. Mean and standard error.
std::pair<double, double> monte_carlo(const intensity& c, double t, double T, double y0, double dt,
                                      std::size_t paths, unsigned seed) {
  std::vector<double> grid{t};
  while (grid.back() < T - 1e-12) {
    double next = std::min(T, grid.back() + dt);
    for (const auto* dates : {&c.levels_times, &c.vol_times})
      for (double s : *dates)
        if (s > grid.back() + 1e-12 && s < next) next = s;
    grid.push_back(next);
  }
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> normal;
  double sum = 0.0, sum2 = 0.0;
  for (std::size_t p = 0; p < paths; ++p) {
    double y = y0, integral = 0.0;
    for (std::size_t i = 1; i < grid.size(); ++i) {
      const double d = grid[i] - grid[i - 1], l = c.level(grid[i - 1]);
      const double var = c.kappa > 0 ? c.variance(grid[i]) * -std::expm1(-2 * c.kappa * d) / (2 * c.kappa)
                                     : c.variance(grid[i]) * d;
      const double next = y * std::exp(-c.kappa * d) + std::sqrt(var) * normal(engine);
      integral += 0.5 * d * (std::exp(l + y) + std::exp(l + next));
      y = next;
    }
    const double q = std::exp(-integral);
    sum += q;
    sum2 += q * q;
  }
  const double mean = sum / double(paths);
  return {mean, std::sqrt((sum2 / double(paths) - mean * mean) / double(paths - 1))};
}

intensity make(double kappa, double sigma, double hazard) {
  // Levels step up after 5 years and the volatility drops after 10: both cuts matter.
  const double l = std::log(hazard);
  return {kappa, {l, l + 0.3}, {0.0, 5.0}, {sigma * sigma, 0.49 * sigma * sigma}, {10.0, 40.0}};
}

TEST(karhunen_loeve_expansion, survival_matches_monte_carlo_with_exact_transitions) {
  struct row {
    double kappa, sigma, hazard, T, y0;
  };
  const row rows[] = {{0.0, 0.2, 0.01, 30.0, 0.0}, {0.1, 0.6, 0.03, 10.0, 0.4}, {0.5, 1.0, 0.02, 30.0, -0.5},
                      {0.0, 1.0, 0.05, 5.0, 0.0},  {0.5, 0.2, 0.2, 30.0, 0.0}};
  for (const auto& q : rows) {
    const auto c = make(q.kappa, q.sigma, q.hazard);
    const double step = 1.0 / 52;
    const double value = lattice(c, 0.0, q.T, q.y0, step, 12);
    // The same splitting refined: half the step, more nodes, twice the grid.
    const double refined = lattice(c, 0.0, q.T, q.y0, step / 2, 16, 801);
    EXPECT_LE(std::fabs(value - refined), 1e-5) << q.kappa << " " << q.sigma << " " << q.T;
    // Monte Carlo on the lattice's own step: it averages the same trapezoid weights, so
    // only the quadrature and interpolation errors remain to be seen here.
    const auto [mean, se] = monte_carlo(c, 0.0, q.T, q.y0, step, 10000, 7);
    EXPECT_LE(std::fabs(value - mean), 3 * se) << q.kappa << " " << q.sigma << " " << q.T << " mc " << mean;
    EXPECT_GT(value, 0.0);
    EXPECT_LE(value, 1.0);
  }
}

TEST(karhunen_loeve_expansion, time_error_is_second_order) {
  // Against a fine run, halving the step divides the error by about 4.
  const auto c = make(0.1, 0.8, 0.05);
  const double fine = lattice(c, 0.0, 10.0, 0.3, 1.0 / 128, 16, 1601);
  const double e1 = lattice(c, 0.0, 10.0, 0.3, 0.5, 16, 1601) - fine;
  const double e2 = lattice(c, 0.0, 10.0, 0.3, 0.25, 16, 1601) - fine;
  EXPECT_NEAR(e1 / e2, 4.0, 0.6) << e1 << " " << e2;
}

TEST(karhunen_loeve_expansion, zero_volatility_is_the_deterministic_integral) {
  intensity c{0.3, {std::log(0.01), std::log(0.04), std::log(0.02)}, {0.0, 2.0, 7.5}, {0.0}, {0.0}};
  vector<double> r, w, out;
  standard_rule(10, r, w);
  karhunen_loeve_expansion kl(1.0, 12.0, c.kappa, c.levels, c.levels_times, c.vol2, c.vol_times, 1.0 / 12);
  kl.survival_probability(vector<double>{0.0, 0.0}, 0.7, r, w, out);
  const double integral = 1.0 * 0.01 + 5.5 * 0.04 + 4.5 * 0.02;
  EXPECT_NEAR(out[0], std::exp(-integral), 1e-15);
  EXPECT_EQ(out[0], out[1]);
  // t == T: nothing to integrate.
  karhunen_loeve_expansion empty(3.0, 3.0, 0.1, c.levels, c.levels_times, {0.04}, {0.0}, 0.1);
  empty.survival_probability(vector<double>{1.0, -2.0}, 1.0, r, w, out);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 1.0);
}

}  // namespace
}  // namespace tarvex
