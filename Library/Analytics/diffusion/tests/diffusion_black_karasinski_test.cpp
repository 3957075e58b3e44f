#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Analytics/calibration/credit/black_karasinski/calibration_credit_black_karasinski.h"
#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/credit/diffusion_credit_black_karasinski.h"
#include "Analytics/diffusion/ir/diffusion_ir_black_karasinski.h"
#include "Analytics/pde/tests/bk_solver_harness.h"
#include "Market/interpolated_discount_curve.h"
#include "Market/interpolated_survival_curve.h"
#include "Random/random_type.h"

namespace tarvex {
namespace {

using namespace bk_testing;

std::vector<datetime> quarterly(std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i)
    d.emplace_back(valuation.year() + int(3 * i) / 12, 1 + int(3 * i) % 12, valuation.day());
  return d;
}

std::shared_ptr<const discount_curve> todays_curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.02, 0.03, 0.035});
}

std::shared_ptr<const survival_curve> todays_credit() {
  return std::make_shared<const interpolated_survival_curve>(
      valuation, std::vector<datetime>{datetime(2028, 1, 5), datetime(2033, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.01, 0.025, 0.03});
}

// Levels bootstrapped to today's curve or survival curve on yearly dates to 20 years.
std::shared_ptr<const parameter_black_karasinski> rate_levels() {
  auto p = with_levels(hjm_part(0.1, 0.25, 0.8), yearly(21), std::vector<double>(21, 0.03));
  calibration_credit_black_karasinski::calibrate_discount_level(valuation, todays_curve(),
                                                                solver_settings(true, 201, 7.0, 6.0, 1e-10), *p);
  return p;
}
std::shared_ptr<const parameter_black_karasinski> credit_levels() {
  auto p = with_levels(hjm_part(0.05, 0.8, 1.0), yearly(21), std::vector<double>(21, 0.02));
  calibration_credit_black_karasinski(valuation, todays_credit(), solver_settings(true, 201, 7.0, 6.0, 1e-10), nullptr,
                                      {})
      .calibrate_level(*p);
  return p;
}

TEST(diffusion_black_karasinski, sizes_initial_states_and_equal_dates) {
  const auto dates = quarterly(9);
  const diffusion_ir_black_karasinski rates(dates, todays_curve(), with_levels(hjm_part(0.1, 0.2), yearly(3), {0.02, 0.03, 0.03}));
  EXPECT_EQ(rates.number_of_states(), 2u);
  EXPECT_EQ(rates.number_of_factors(), 1u);
  EXPECT_EQ(rates.log_normalized_discounting_index(), 1u);
  const diffusion_credit_black_karasinski credit(dates, todays_credit(),
                                                 with_levels(hjm_part(0.1, 0.5), yearly(3), {0.02, 0.03, 0.03}));
  EXPECT_EQ(credit.number_of_states(), 2u);
  EXPECT_EQ(credit.number_of_factors(), 1u);
  matrix<double> states(2, 5, 0.7);
  vector<double> flat = vector<double>::view(states.data(), states.size()), out(5, 3.0);
  credit.initial_states(flat);
  credit.survival_probability(out, states, dates[0]);
  for (double v : out) EXPECT_EQ(v, 1.0);
  rates.discounting(out, states, dates[0]);
  for (double v : out) EXPECT_EQ(v, 1.0);
  states.fill(0.4);
  rates.log_df(out, states, dates[3], dates[3]);
  for (double v : out) EXPECT_EQ(v, 0.0);
  credit.log_conditional_survival_probability(out, states, dates[3], dates[3]);
  for (double v : out) EXPECT_EQ(v, 0.0);
}

TEST(diffusion_black_karasinski, bootstrapped_rates_and_credit_reprice_todays_curves_through_the_manager) {
  const auto dates = quarterly(41);  // ten years
  auto rates = std::make_shared<const diffusion_ir_black_karasinski>(dates, todays_curve(), rate_levels());
  auto credit = std::make_shared<const diffusion_credit_black_karasinski>(dates, todays_credit(), credit_levels());
  const std::size_t paths = 10000;
  matrix<double> correlation{{1.0, 0.5}, {0.5, 1.0}};
  const auto config = std::make_shared<const random_config>(random_type::philox, 20261207, paths, dates.size(), 2, 0,
                                                            false, false, random_type::philox, device_type::cpu);
  simulation_manager manager({rates, credit}, {nullptr, nullptr}, correlation, config, dates);
  manager.states_initialize();
  const auto curve = diffusion::diffusion_discount_curve(manager.data(0));
  const auto survival = diffusion::diffusion_survival_curve(manager.data(1));
  vector<double> numeraire(paths), bond(paths), alive(paths), conditional(paths);
  const auto expect_mean = [&](const vector<double>& a, const vector<double>& b, double today, const char* what,
                               std::size_t k, const datetime& T) {
    double sum = 0.0, sum2 = 0.0;
    for (std::size_t p = 0; p < paths; ++p) {
      const double v = a[p] * std::exp(b[p]);
      sum += v;
      sum2 += v * v;
    }
    const double mean = sum / paths, se = std::sqrt((sum2 / paths - mean * mean) / (paths - 1));
    ASSERT_GT(se, 1e-5 * today);
    EXPECT_LE(std::fabs(mean - today), 3 * se) << what << " date " << k << " T " << T.to_string() << " mean " << mean
                                                << " today " << today << " se " << se;
  };
  for (std::size_t k = 1; k < dates.size(); ++k) {
    manager.propagate(k);
    if (k % 8 != 0) continue;  // every two years
    curve->discounting(numeraire, dates[k]);
    survival->survival_probability(alive, dates[k]);
    for (const datetime T : {dates[k], datetime(2038, 1, 5), datetime(2045, 6, 5)}) {
      curve->log_df(bond, dates[k], T);
      expect_mean(numeraire, bond, todays_curve()->df(valuation, T), "discount", k, T);
      survival->log_survival_probability(conditional, dates[k], T);
      expect_mean(alive, conditional, todays_credit()->survival_probability(valuation, T), "survival", k, T);
    }
  }
}

}  // namespace
}  // namespace tarvex
