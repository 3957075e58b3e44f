#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/tests/bk_test_parameters.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

using namespace bk_testing;

std::vector<datetime> weekly(std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i) d.push_back(valuation.add_days(int(7 * i)));
  return d;
}

TEST(model_black_karasinski, variance_is_the_ornstein_uhlenbeck_closed_form) {
  const double k = 0.3, s1 = 0.5, s2 = 0.35;
  const auto p = with_levels(hjm_part(k, s1, s2 / s1), yearly(2), {0.01, 0.02});
  const auto dates = yearly(12);
  const model_black_karasinski m(*p, valuation, dates, false);
  for (const datetime t : {datetime(2027, 7, 1), datetime(2031, 1, 5), datetime(2034, 3, 3), datetime(2037, 1, 5)}) {
    const double time = (t.value() - valuation.value()) / 365.0, five = 1826.0 / 365.0;
    double expected;
    if (time <= five)
      expected = s1 * s1 * -std::expm1(-2 * k * time) / (2 * k);
    else
      expected = s1 * s1 * std::exp(-2 * k * (time - five)) * -std::expm1(-2 * k * five) / (2 * k) +
                 s2 * s2 * -std::expm1(-2 * k * (time - five)) / (2 * k);
    EXPECT_NEAR(m.variance(t), expected, 1e-14) << t.to_string();
    // The HJM state's variance, decayed: g^2 Var x on a date of the simulation grid.
    if (t == datetime(2031, 1, 5) || t == datetime(2037, 1, 5)) {
      matrix<double> c;
      m.hjm_model().states_variable_covariance(t, c);
      EXPECT_NEAR(m.decay(t) * m.decay(t) * c(0, 0), expected, 1e-12) << t.to_string();
    }
  }
}

TEST(model_black_karasinski, conditional_price_matches_simulated_discounting_and_the_zero_volatility_limit) {
  // Monte Carlo of the model's own step (exact HJM transitions, trapezoid on r) from
  // x = 0 against exp(conditional_price(0, T)).
  const auto p = with_levels(hjm_part(0.1, 0.6, 0.7), {valuation, datetime(2029, 1, 5)}, {0.02, 0.04});
  const auto dates = weekly(10 * 52 + 1);
  const model_black_karasinski m(*p, valuation, dates, false);
  const std::size_t paths = 20000;
  matrix<double> states(2, paths), previous, draws(1, paths);
  std::mt19937_64 engine(11);
  std::normal_distribution<double> normal;
  const std::size_t checks[] = {104, 260, 520};
  std::size_t next_check = 0;
  for (std::size_t j = 1; j < dates.size(); ++j) {
    for (std::size_t q = 0; q < paths; ++q) draws(0, q) = normal(engine);
    m.simulation_step(nullptr, j, draws, previous, states);
    if (j != checks[next_check]) continue;
    ++next_check;
    double sum = 0.0, sum2 = 0.0;
    for (std::size_t q = 0; q < paths; ++q) {
      const double v = std::exp(-states(1, q));
      sum += v;
      sum2 += v * v;
    }
    const double mean = sum / paths, se = std::sqrt((sum2 / paths - mean * mean) / (paths - 1));
    matrix<double> zero(2, 1);
    vector<double> out(1);
    m.conditional_price(zero, valuation, dates[j], out);
    EXPECT_LE(std::fabs(std::exp(out[0]) - mean), 3 * se)
        << dates[j].to_string() << " mc " << mean << " se " << se << " model " << std::exp(out[0]);
  }
  // t == T: zero on every path.
  vector<double> out(paths, 1.0);
  m.conditional_price(states, dates[10], dates[10], out);
  for (double v : out) ASSERT_EQ(v, 0.0);

  // Zero volatility: -int exp(l) exactly, on the grid form too.
  const auto flat = with_levels(hjm_part(0.2, 0.0), {valuation, datetime(2029, 1, 5)}, {0.02, 0.04});
  const model_black_karasinski d(*flat, valuation, yearly(11), false);
  const auto grid = std::make_shared<const space_grid>(vector<double>{-1.0, 0.0, 1.0});
  double values[3];
  d.conditional_price(values, &grid, valuation, datetime(2036, 1, 5));
  const double integral = 0.02 * 1096.0 / 365 + 0.04 * 2556.0 / 365;
  EXPECT_NEAR(values[1], -integral, 8e-16 * integral);  // a few ulps
}

TEST(model_black_karasinski, simulation_step_coefficients_quadrature_and_state_parameters) {
  const auto p = with_levels(hjm_part(0.0, 0.3), yearly(3), {0.01, 0.02, 0.03}, 7, 16);
  const auto dates = yearly(6);
  model_black_karasinski m(*p, valuation, dates, false);
  EXPECT_EQ(m.number_of_states(), 2u);
  // Zero draws, zero drift: x stays, y gains the trapezoid with the start's level.
  matrix<double> states{{0.1, -0.2}, {0.5, 0.0}}, previous, draws(1, 2);
  m.simulation_step(nullptr, 2, draws, previous, states);
  const double tau = 365.0 / 365;
  for (std::size_t q = 0; q < 2; ++q) {
    const double x = previous(0, q);
    EXPECT_EQ(states(0, q), x);
    EXPECT_NEAR(states(1, q), previous(1, q) + tau * std::exp(std::log(0.02) + x), 1e-15);
  }
  // Zero mean reversion: decay 1, reaction -tau exp(l_k + x).
  const auto grid = std::make_shared<const space_grid>(vector<double>{-0.5, 0.0, 0.7});
  const auto c = std::make_shared<const pde_model_coefficients>(std::vector<std::size_t>{3}, true);
  m.coefficients(&c, &grid, dates[1], dates[2]);
  const double v = m.hjm_model().incremental_volatility_sv()(2, 0);
  EXPECT_NEAR(v, 0.3 * std::sqrt(365.0 / 365), 1e-15);
  for (std::size_t j = 0; j < 3; ++j) {
    EXPECT_NEAR(c->reaction().data()[j], -tau * std::exp(std::log(0.02) + grid->axis()[j]), 1e-16);
    EXPECT_EQ(c->diffusion().data()[j], 0.5 * v * v);
    EXPECT_EQ(c->convection().data()[j], 0.0);
  }
  // Standard normal rule: symmetric nodes, weights summing to 1.
  double sum = 0.0;
  for (std::size_t k = 0; k < 16; ++k) {
    sum += m.weights()[k];
    EXPECT_EQ(m.roots()[k], -m.roots()[15 - k]);
  }
  EXPECT_NEAR(sum, 1.0, 1e-15);
  // Inner model's count plus the level dates; set after get restores the level times.
  std::vector<double> s(m.state_parameters_size() + 8);
  const std::size_t inner = m.hjm_model().get_state_parameters(s.data());
  EXPECT_EQ(m.state_parameters_size(), inner + 3);
  EXPECT_EQ(m.get_state_parameters(s.data()), inner + 3);
  EXPECT_EQ(m.levels_offset(), inner);
  const auto times = m.levels_times();
  EXPECT_EQ(times[1], 1.0);
  s[m.levels_offset() + 1] = 7.0;
  m.set_state_parameters(s.data());
  EXPECT_EQ(m.levels_times()[1], 7.0);
  s[m.levels_offset() + 1] = times[1];
  m.set_state_parameters(s.data());
  EXPECT_EQ(m.levels_times(), times);
}

}  // namespace
}  // namespace tarvex
