#include <gtest/gtest.h>

#include <cmath>

#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/tests/testing.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

std::vector<std::shared_ptr<const space_grid>> grids_for(std::size_t n, std::size_t nodes) {
  std::vector<std::shared_ptr<const space_grid>> g;
  for (std::size_t f = 0; f < n; ++f)
    g.push_back(std::make_shared<const space_grid>(space_grid::uniform(-0.05 - 0.01 * f, 0.04 + 0.01 * f, nodes)));
  return g;
}

TEST(model_markovian_hjm_pde, grid_prices_equal_path_prices_at_x_equal_y_plus_drift) {
  const auto p = constant_parameters({0.03, 0.7}, {0.01, 0.006}, uniform_correlation(2, -0.4));
  const auto dates = monthly_dates(21, 6);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  const auto grids = grids_for(2, 9);
  const datetime s = dates[6], T = dates[16];
  std::vector<double> on_grid(9);
  m.conditional_price(on_grid.data(), grids, s, T);
  vector<double> mu;
  m.state_drift(s, mu);
  matrix<double> states(2, 9);
  for (std::size_t f = 0; f < 2; ++f)
    for (std::size_t p_ = 0; p_ < 9; ++p_) states(f, p_) = grids[f]->axis()[p_] + mu[f];
  vector<double> on_paths(9);
  m.conditional_price(states, s, T, on_paths);
  for (std::size_t p_ = 0; p_ < 9; ++p_) EXPECT_NEAR(on_grid[p_], on_paths[p_], 1e-15) << p_;

  m.conditional_price(on_grid.data(), grids, s, s);
  for (double v : on_grid) EXPECT_EQ(v, 0.0);
}

// E x_a(t) = -int_0^t sum_b rho_ab sigma_a sigma_b e^{(k_a + k_b) u} (1 - e^{-k_b u})/k_b du for
// constant parameters, by composite Simpson on 4000 panels (error ~1e-16 relative here).
std::vector<double> money_market_mean(const std::vector<double>& k, const std::vector<double>& s,
                                      const matrix<double>& rho, double t) {
  const std::size_t n = k.size(), panels = 4000;
  std::vector<double> out(n, 0.0);
  const auto f = [&](std::size_t a, double u) {
    double sum = 0.0;
    for (std::size_t b = 0; b < n; ++b) {
      const double I = k[b] == 0.0 ? u : -std::expm1(-k[b] * u) / k[b];
      sum += rho(a, b) * s[a] * s[b] * std::exp((k[a] + k[b]) * u) * I;
    }
    return sum;
  };
  const double h = t / panels;
  for (std::size_t a = 0; a < n; ++a) {
    double sum = f(a, 0.0) + f(a, t);
    for (std::size_t i = 1; i < panels; ++i) sum += (i % 2 ? 4.0 : 2.0) * f(a, i * h);
    out[a] = -sum * h / 3.0;
  }
  return out;
}

TEST(model_markovian_hjm_pde, state_drift_is_the_money_market_mean) {
  // One factor against the closed form -sigma^2 (e^{kt} - 1)^2 / (2 k^2) (and -sigma^2 t^2/2
  // at k = 0); several factors, with cross terms and both signs of correlation, against
  // the quadrature. Monthly model dates make the sum run over many steps.
  const auto dates = monthly_dates(121, 1);
  for (const double k : {0.05, 1e-9, 0.0, 1.5}) {
    const double s = 0.01;
    const auto p = constant_parameters({k}, {s}, uniform_correlation(1, 1.0));
    const model_markovian_hjm m(*p, valuation, dates, false, {});
    vector<double> mu;
    m.state_drift(dates.back(), mu);
    const double t = m.time(dates.back());
    const double expected =
        k == 0.0 ? -0.5 * s * s * t * t : -s * s * std::pow(std::expm1(k * t) / k, 2) / 2.0;
    EXPECT_NEAR(mu[0], expected, 1e-13 * std::fabs(expected)) << k;
    if (k == 0.05) {
      EXPECT_NEAR(mu[0], -8.43e-3, 5e-5);
    }
  }
  struct set {
    std::vector<double> k, s;
    double rho;
  };
  for (const set& c : {set{{0.03, 0.7}, {0.01, 0.006}, -0.4}, set{{0.01, 1e-7, 0.3}, {0.008, 0.004, 0.01}, 0.6},
                       set{{0.02, 0.5, 0.1}, {0.01, 0.01, 0.005}, -0.3}}) {
    const auto rho = uniform_correlation(c.k.size(), c.rho);
    const auto p = constant_parameters(c.k, c.s, rho);
    const model_markovian_hjm m(*p, valuation, dates, false, {});
    for (const std::size_t i : {std::size_t{7}, std::size_t{120}}) {
      vector<double> mu;
      m.state_drift(dates[i], mu);
      const auto expected = money_market_mean(c.k, c.s, rho, m.time(dates[i]));
      for (std::size_t f = 0; f < c.k.size(); ++f)
        EXPECT_NEAR(mu[f], expected[f], 1e-12 * std::fabs(expected[f]) + 1e-18) << c.k.size() << " " << i << " " << f;
    }
  }
}

TEST(model_markovian_hjm_pde, coefficients_are_the_step_integrals_of_rate_and_variance) {
  // Exact answers (reference tests of an earlier formula read the covariance of the step's
  // start at both ends and sv(k), which is zero on the first step).
  const double a = 0.05, sigma = 0.01;
  const auto p = constant_parameters({a}, {sigma}, uniform_correlation(1, 1.0));
  const auto dates = monthly_dates(11, 12);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  const auto grids = grids_for(1, 5);
  const auto coefficients = std::make_shared<const pde_model_coefficients>(std::vector<std::size_t>{5}, true);
  for (const std::size_t k : {std::size_t{0}, std::size_t{3}}) {
    coefficients->convection().fill(7.0);
    const datetime from = dates[k], to = dates[k + 1];
    m.coefficients({coefficients}, grids, from, to);
    const double t0 = m.time(from), t1 = m.time(to), tau = t1 - t0;
    // Hull-White: D = e^{-a t}, I = (1 - e^{-a t})/a, C = sigma^2 (e^{2at} - 1)/(2a).
    const auto D = [&](double t) { return std::exp(-a * t); };
    const auto I = [&](double t) { return -std::expm1(-a * t) / a; };
    const auto C = [&](double t) { return sigma * sigma * std::expm1(2 * a * t) / (2 * a); };
    const auto mu = [&](double t) { return -sigma * sigma * std::pow(std::expm1(a * t) / a, 2) / 2.0; };
    for (std::size_t i = 0; i < 5; ++i) {
      const double y = grids[0]->axis()[i];
      const auto r = [&](double t) { return D(t) * (y + mu(t) + C(t) * I(t)); };
      EXPECT_NEAR(coefficients->reaction()(i), -0.5 * tau * (r(t0) + r(t1)), 1e-15) << k;
      EXPECT_EQ(coefficients->convection()(i), 0.0);
      const double variance = C(t1) - C(t0);
      EXPECT_NEAR(coefficients->diffusion()(i), 0.5 * variance, 1e-14 * variance) << k;
    }
  }
  const std::string refused =
      "coefficients need a model whose model dates are its simulation dates; model dates 11, simulation dates 0";
  const model_markovian_hjm analytic(*p, valuation, {}, true, dates);
  EXPECT_EQ(testing::error_text([&] { analytic.coefficients({coefficients}, grids, dates[0], dates[1]); }), refused);
  const model_markovian_hjm finer(*p, valuation, dates, false, {datetime(2026, 7, 5)});
  EXPECT_EQ(testing::error_text([&] { finer.coefficients({coefficients}, grids, dates[0], dates[1]); }),
            "coefficients need a model whose model dates are its simulation dates; model dates 12, simulation dates 11");
}

}  // namespace
}  // namespace tarvex
