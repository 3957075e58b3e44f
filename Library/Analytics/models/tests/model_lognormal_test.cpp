#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/models/model_lognormal.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Analytics/parameters/parameter_lognormal.h"

namespace tarvex {
namespace {

using hjm_testing::monthly_dates;
using hjm_testing::uniform_correlation;
using hjm_testing::valuation;

parameter_lognormal flat(const std::vector<double>& sigma, double rho) {
  matrix<double> s(1, sigma.size());
  for (std::size_t f = 0; f < sigma.size(); ++f) s(0, f) = sigma[f];
  return parameter_lognormal(s, uniform_correlation(sigma.size(), rho), {valuation}, nullptr);
}

TEST(model_lognormal, step_variance_and_martingale_correction) {
  // One factor, sigma 0.2 over one year (ACT/365F, 2026-01-05 to 2027-01-05): v = 0.2,
  // V = 0.04 and the state moves by -0.02 with zero draws and no change of measure.
  const auto one = flat({0.2}, 0.0);
  const model_lognormal m(one, valuation, {valuation, datetime(2027, 1, 5)});
  EXPECT_DOUBLE_EQ(m.incremental_volatilities()(1, 0), 0.2);
  EXPECT_DOUBLE_EQ(m.step_variance(1), 0.04);
  matrix<double> states(1, 3, 0.0), draws(1, 3, 0.0);
  m.simulation_step(nullptr, 1, draws, states);
  for (std::size_t p = 0; p < 3; ++p) EXPECT_DOUBLE_EQ(states(0, p), -0.02);
  // A change of measure enters as Z - drift: drift 0.5 moves every path by -0.1 more.
  const auto shifted = std::make_shared<const change_of_measure>(matrix<double>(1, 1, 1.0), matrix<double>(2, 1, 0.5));
  m.simulation_step(shifted, 1, draws, states);
  EXPECT_DOUBLE_EQ(states(0, 0), -0.02 - 0.02 - 0.1);

  // Two uncorrelated factors with v = (0.1, 0.2): V = 0.05.
  const auto two = flat({0.1, 0.2}, 0.0);
  EXPECT_NEAR(model_lognormal(two, valuation, {valuation, datetime(2027, 1, 5)}).step_variance(1), 0.05, 1e-16);
}

TEST(model_lognormal, a_step_across_a_volatility_date_splits_its_variance) {
  // Rows cover (.., 2026-07-05] and (2026-07-05, ..]; a one-year step takes 181 days of
  // the first and 184 of the second.
  const parameter_lognormal p(matrix<double>{{0.1}, {0.3}},
                              matrix<double>(1, 1, 1.0), {datetime(2026, 7, 5), datetime(2027, 6, 1)}, nullptr);
  const model_lognormal m(p, valuation, {valuation, datetime(2027, 1, 5)});
  const double expected = std::sqrt(181.0 / 365 * 0.01 + 184.0 / 365 * 0.09);
  EXPECT_NEAR(m.incremental_volatilities()(1, 0), expected, 1e-15);
  // The first grid date's step starts at the valuation date: nothing accrues.
  EXPECT_EQ(m.incremental_volatilities()(0, 0), 0.0);
}

TEST(model_lognormal, spot_is_a_martingale) {
  // Two correlated factors, monthly for three years: E[exp(x_k)] = 1 at every date.
  const auto p = flat({0.25, 0.15}, 0.6);
  const auto dates = monthly_dates(37, 1);
  const model_lognormal m(p, valuation, dates);
  const std::size_t paths = 20000;
  matrix<double> states(1, paths, 0.0), draws(2, paths);
  std::mt19937_64 engine(3);
  std::normal_distribution<double> normal;
  for (std::size_t k = 1; k < dates.size(); ++k) {
    for (std::size_t q = 0; q < paths; ++q) {  // correlate by hand: rho 0.6
      const double a = normal(engine), b = normal(engine);
      draws(0, q) = a;
      draws(1, q) = 0.6 * a + 0.8 * b;
    }
    m.simulation_step(nullptr, k, draws, states);
    if (k % 12 != 0) continue;
    double sum = 0, sum2 = 0;
    for (std::size_t q = 0; q < paths; ++q) {
      const double v = std::exp(states(0, q));
      sum += v, sum2 += v * v;
    }
    const double mean = sum / paths, se = std::sqrt((sum2 / paths - mean * mean) / (paths - 1));
    EXPECT_LT(std::abs(mean - 1.0), 3 * se) << "date " << k;
  }
}

}  // namespace
}  // namespace tarvex
