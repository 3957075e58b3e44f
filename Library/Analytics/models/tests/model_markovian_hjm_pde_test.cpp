#include <gtest/gtest.h>

#include <cmath>

#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"
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

TEST(model_markovian_hjm_pde, coefficients_are_the_averaged_short_rate_and_half_the_step_variance) {
  const double a = 0.05, sigma = 0.01;
  const auto p = constant_parameters({a}, {sigma}, uniform_correlation(1, 1.0));
  const auto dates = monthly_dates(11, 12);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  const auto grids = grids_for(1, 5);
  const auto coefficients = std::make_shared<const pde_model_coefficients>(std::vector<std::size_t>{5}, true);
  coefficients->convection().fill(7.0);
  const datetime from = dates[3], to = dates[4];
  m.coefficients({coefficients}, grids, from, to);
  // One factor: c = D C I at each end with the covariance at `from`; r = D (y + mu) + c.
  const double tau = (to.value() - from.value()) / 365.0;
  const std::size_t k = 3;
  vector<double> mu_from, mu_to;
  m.state_drift(from, mu_from);
  m.state_drift(to, mu_to);
  const double C = m.covariance()(k, 0, 0);
  const double sv = m.incremental_volatility_sv()(k, 0);
  for (std::size_t i = 0; i < 5; ++i) {
    const double y = grids[0]->axis()[i];
    const double r1 = m.decay()(k, 0) * (y + mu_from[0]) + m.decay()(k, 0) * C * m.integral_decay()(k, 0);
    const double r2 = m.decay()(k + 1, 0) * (y + mu_to[0]) + m.decay()(k + 1, 0) * C * m.integral_decay()(k + 1, 0);
    EXPECT_NEAR(coefficients->reaction()(i), -0.5 * tau * (r1 + r2), 1e-16);
    EXPECT_EQ(coefficients->convection()(i), 0.0);
    EXPECT_EQ(coefficients->diffusion()(i), 0.5 * sv * sv);
  }
  const model_markovian_hjm analytic(*p, valuation, {}, true, dates);
  EXPECT_THROW(analytic.coefficients({coefficients}, grids, from, to), Error);
}

}  // namespace
}  // namespace tarvex
