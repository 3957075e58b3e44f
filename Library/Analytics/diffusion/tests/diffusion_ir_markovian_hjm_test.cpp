#include <gtest/gtest.h>

#include <cmath>

#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/cpu_allocator.h"
#include "Core/error.h"
#include "Market/fx_spot.h"
#include "Market/interpolated_discount_curve.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

std::shared_ptr<const discount_curve> upward_curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.02, 0.03, 0.035});
}

diffusion_ir_markovian_hjm three_factor(const std::vector<datetime>& dates) {
  return diffusion_ir_markovian_hjm(dates, upward_curve(),
                                    constant_parameters({0.03, 0.2, 0.7}, {0.01, 0.008, 0.006},
                                                        uniform_correlation(3, 0.4)));
}

TEST(diffusion_ir_markovian_hjm, sizes_and_initial_states) {
  const auto dates = monthly_dates(13, 1);
  const auto d = three_factor(dates);
  EXPECT_EQ(d.number_of_states(), 4u);
  EXPECT_EQ(d.number_of_factors(), 3u);
  EXPECT_EQ(d.log_normalized_discounting_index(), 3u);
  EXPECT_EQ(d.model().simulation_dates(), dates);

  matrix<double> states(4, 7, 5.0);
  vector<double> flat = vector<double>::view(states.data(), states.size());
  d.initial_states(flat);
  for (std::size_t i = 0; i < states.size(); ++i) EXPECT_EQ(states.data()[i], 0.0);

  // At the initial date with zero states the numeraire is 1 and the bond is today's.
  vector<double> out(7);
  d.discounting(out, states, dates.front());
  for (double v : out) EXPECT_EQ(v, 1.0);
  const datetime T(2036, 3, 1);
  d.log_df(out, states, dates.front(), T);
  for (double v : out) EXPECT_NEAR(v, d.curve()->log_df(dates.front(), T), 1e-14);
  // t == T is exactly zero whatever the states.
  states.fill(0.3);
  d.log_df(out, states, dates[4], dates[4]);
  for (double v : out) EXPECT_EQ(v, 0.0);
  // The view of the log-discount row writes into the states.
  EXPECT_EQ(d.log_normalized_discounting(states).data(), states.row_data(3));
}

TEST(diffusion_ir_markovian_hjm, log_df_adds_todays_curve_to_the_model_part) {
  const auto dates = monthly_dates(25, 1);
  const auto d = three_factor(dates);
  matrix<double> states(4, 3);
  for (std::size_t p = 0; p < 3; ++p)
    for (std::size_t f = 0; f < 4; ++f) states(f, p) = 0.01 * (double(p) - 1.0) * (1.0 + double(f));
  const datetime t = dates[12], T(2033, 7, 5);
  vector<double> model_part(3), out(3);
  d.model().conditional_price(states, t, T, model_part);
  d.log_df(out, states, t, T);
  const double c = d.curve()->log_df(t, T);
  for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(out[p], model_part[p] + c, 1e-15);
  // The numeraire uses only the log-discount row: P(0, t) exp(-x).
  d.discounting(out, states, t);
  for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(out[p], d.curve()->df(dates[0], t) * std::exp(-states(3, p)), 1e-15);
  // The per-date answers of a simulation allocate nothing.
  const auto allocations = cpu_allocator::allocation_count();
  d.discounting(out, states, t);
  d.log_df(out, states, t, T);
  EXPECT_EQ(cpu_allocator::allocation_count(), allocations);
  vector<double> wrong(2);
  try {
    d.discounting(wrong, states, t);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("expression has diferrent size"), std::string::npos);
  }
}

TEST(diffusion, coefficients_is_not_implemented_and_lookups_cast) {
  const auto d = three_factor(monthly_dates(3, 1));
  try {
    d.coefficients({}, valuation, valuation);
    FAIL();
  } catch (const NotImplementedError& e) {
    EXPECT_STREQ(e.what(), "coefficients function not implemented!");
    EXPECT_EQ(e.location().function, "coefficients");
    EXPECT_EQ(e.location().file, "Library/Analytics/diffusion/common/diffusion");
    EXPECT_EQ(e.location().line, 52);
  }
  const std::shared_ptr<const market_data> curve = upward_curve();
  EXPECT_EQ(diffusion::diffusion_fx_spot(curve), nullptr);
  EXPECT_EQ(diffusion::diffusion_equity_spot(curve), nullptr);
  EXPECT_EQ(diffusion::diffusion_survival_curve(curve), nullptr);
  EXPECT_EQ(diffusion::diffusion_discount_curve(curve), curve);
  EXPECT_NE(diffusion::diffusion_fx_spot(std::make_shared<const fx_spot>(valuation, 1.1)), nullptr);
}

}  // namespace
}  // namespace tarvex
