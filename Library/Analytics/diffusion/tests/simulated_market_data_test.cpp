#include <gtest/gtest.h>

#include <cmath>

#include "Analytics/diffusion/credit/diffusion_credit.h"
#include "Analytics/diffusion/credit/survival_curve_diffusion.h"
#include "Analytics/diffusion/equity/diffusion_equity.h"
#include "Analytics/diffusion/equity/equity_spot_diffusion.h"
#include "Analytics/diffusion/fx/diffusion_fx.h"
#include "Analytics/diffusion/fx/fx_spot_diffusion.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/diffusion/ir/discount_curve_diffusion.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/error.h"
#include "Core/tests/testing.h"
#include "Market/survival_curve.h"
#include "Market/interpolated_discount_curve.h"

namespace tarvex {
namespace {

using namespace hjm_testing;
constexpr std::size_t paths = 5;

// Spot diffusions that keep their state: enough to exercise the simulated objects.
struct still_equity : diffusion_equity {
  still_equity(const std::vector<datetime>& d, double spot) : diffusion_equity(d, spot, nullptr) {}
  void initial_states(vector<double>& s) const override { s.fill(std::log(spot_)); }
  void propagate(matrix<double>&, matrix<double>&, std::uint64_t, const matrix<double>&,
                 const std::shared_ptr<const change_of_measure>&) const override {}
  std::uint64_t number_of_states() const override { return 1; }
  std::uint64_t number_of_factors() const override { return 1; }
};
struct still_fx : diffusion_fx {
  still_fx(const std::vector<datetime>& d, double spot) : diffusion_fx(d, spot, nullptr, nullptr) {}
  void initial_states(vector<double>& s) const override { s.fill(std::log(spot_)); }
  void propagate(matrix<double>&, matrix<double>&, std::uint64_t, const matrix<double>&,
                 const std::shared_ptr<const change_of_measure>&) const override {}
  std::uint64_t number_of_states() const override { return 1; }
  std::uint64_t number_of_factors() const override { return 1; }
};

struct simulated_market_data : ::testing::Test {
  std::vector<datetime> dates = monthly_dates(13, 1);
  std::shared_ptr<const diffusion> rates = std::make_shared<const diffusion_ir_markovian_hjm>(
      dates,
      std::make_shared<const interpolated_discount_curve>(valuation, std::vector<datetime>{datetime(2030, 1, 5)},
                                                          std::vector<double>{0.03}),
      constant_parameters({0.05, 0.5}, {0.01, 0.007}, uniform_correlation(2, -0.3)));
  matrix<double> storage{2 * 3 + 2 * 3, paths};  // rates: previous, current; then two 1-row spot blocks
  matrix<double> block(std::size_t first_row, std::size_t rows) {
    return matrix<double>::view(storage.data() + first_row * paths, rows, paths);
  }
};

TEST_F(simulated_market_data, simulated_discount_curve_reads_live_states) {
  auto curve = rates->create_market_data(rates, block(3, 3), block(0, 3), {});
  auto dc = diffusion::diffusion_discount_curve(curve);
  ASSERT_NE(dc, nullptr);
  for (std::size_t p = 0; p < paths; ++p) {
    storage(3, p) = 0.01 * double(p);
    storage(4, p) = -0.02;
    storage(5, p) = 0.1 * double(p);
  }
  vector<double> out(paths), expected(paths);
  EXPECT_EQ(testing::error_text([&] { dc->log_df(out, dates[6], dates[12]); }),
            "simulated discount curve has no date before states_initialize(), asked at 2026-07-05");
  curve->finalize(dates[6]);
  EXPECT_EQ(curve->valuation_date(), dates[6]);
  dc->log_df(out, dates[6], dates[6]);
  for (double v : out) EXPECT_EQ(v, 0.0);
  const auto& ir = static_cast<const diffusion_ir&>(*rates);
  dc->log_df(out, dates[6], dates[12]);
  ir.log_df(expected, block(3, 3), dates[6], dates[12]);
  for (std::size_t p = 0; p < paths; ++p) EXPECT_EQ(out[p], expected[p]);
  dc->discounting(out, dates[6]);
  for (std::size_t p = 0; p < paths; ++p)
    EXPECT_NEAR(out[p], ir.curve()->df(dates[0], dates[6]) * std::exp(-0.1 * double(p)), 1e-15);
  EXPECT_EQ(dc->log_normalized_discounting().data(), storage.row_data(5));

  auto located = [&](auto call, const char* name, int line) {
    try {
      call();
      ADD_FAILURE() << name;
    } catch (const NotImplementedError& e) {
      EXPECT_STREQ(e.what(), name);
      EXPECT_EQ(e.location().function, name);
      EXPECT_EQ(e.location().file, "Library/Analytics/diffusion/ir/discount_curve_diffusion");
      EXPECT_EQ(e.location().line, line);
    }
  };
  located([&] { dc->df(dates[1], dates[2]); }, "df", 52);
  located([&] { dc->log_df(dates[1], dates[2]); }, "log_df", 46);
}

TEST_F(simulated_market_data, equity_spot_is_exp_of_state_plus_domestic_log_discount) {
  auto curve = rates->create_market_data(rates, block(3, 3), block(0, 3), {});
  auto equity = std::make_shared<const still_equity>(dates, 80.0);
  auto spot_object = equity->create_market_data(equity, block(7, 1), block(6, 1), {curve});
  auto spot = diffusion::diffusion_equity_spot(spot_object);
  ASSERT_NE(spot, nullptr);
  curve->finalize(dates[1]);  // the manager finalises every object, curves first
  EXPECT_EQ(spot->spot(), 80.0);
  // Zero states everywhere: the spot is 1.
  storage.fill(0.0);
  spot->finalize(dates[1]);
  for (double v : spot->spots()) EXPECT_EQ(v, 1.0);
  // ln S0 in the state and no discounting: today's spot comes back.
  vector<double> state = storage.row(7);
  equity->initial_states(state);
  spot->finalize(dates[1]);
  for (double v : spot->spots()) EXPECT_NEAR(v, 80.0, 1e-12);
  // With the numeraire state set: S = exp(x + d).
  for (std::size_t p = 0; p < paths; ++p) storage(5, p) = 0.01 * double(p);
  spot->finalize(dates[1]);
  for (std::size_t p = 0; p < paths; ++p) EXPECT_NEAR(spot->spots()[p], 80.0 * std::exp(0.01 * double(p)), 1e-12);
  // Forward: S / P(t, T) per path.
  vector<double> fwd(paths), lp(paths);
  spot->forward(fwd, dates[1], dates[7]);
  diffusion::diffusion_discount_curve(curve)->log_df(lp, dates[1], dates[7]);
  for (std::size_t p = 0; p < paths; ++p) EXPECT_NEAR(fwd[p], spot->spots()[p] / std::exp(lp[p]), 1e-12);
}

TEST_F(simulated_market_data, fx_forward_with_equal_curves_is_the_spot) {
  auto domestic = rates->create_market_data(rates, block(3, 3), block(0, 3), {});
  auto foreign = rates->create_market_data(rates, block(3, 3), block(0, 3), {domestic});
  auto fx = std::make_shared<const still_fx>(dates, 1.25);
  auto fx_object = fx->create_market_data(fx, block(7, 1), block(6, 1), {domestic, foreign});
  auto spot = diffusion::diffusion_fx_spot(fx_object);
  ASSERT_NE(spot, nullptr);
  for (std::size_t p = 0; p < paths; ++p) {
    storage(3, p) = 0.02 * double(p);
    storage(5, p) = 0.05 * double(p);
    storage(7, p) = std::log(1.25) + 0.01 * double(p);
  }
  domestic->finalize(dates[2]);
  foreign->finalize(dates[2]);
  spot->finalize(dates[2]);
  vector<double> fwd(paths);
  spot->forward(fwd, dates[2], dates[10]);
  for (std::size_t p = 0; p < paths; ++p) {
    EXPECT_NEAR(spot->spots()[p], 1.25 * std::exp(0.01 * double(p)), 1e-12);  // d and f cancel
    EXPECT_NEAR(fwd[p], spot->spots()[p], 1e-12);
  }
}

// A credit diffusion whose log survival is the state row times the period in years:
// enough to see that queries reach it only at the simulated date.
struct still_credit : diffusion_credit {
  explicit still_credit(const std::vector<datetime>& d) : diffusion_credit(d, nullptr) {}
  void initial_states(vector<double>& s) const override { s.fill(0.0); }
  void propagate(matrix<double>&, matrix<double>&, std::uint64_t, const matrix<double>&,
                 const std::shared_ptr<const change_of_measure>&) const override {}
  std::uint64_t number_of_states() const override { return 1; }
  std::uint64_t number_of_factors() const override { return 1; }
  void log_conditional_survival_probability(vector<double>& out, const matrix<double>& s, const datetime& t,
                                            const datetime& T) const override {
    for (std::size_t p = 0; p < out.size(); ++p) out[p] = -s(0, p) * (T.value() - t.value()) / 365.0;
  }
  void survival_probability(vector<double>& out, const matrix<double>& s, const datetime&) const override {
    for (std::size_t p = 0; p < out.size(); ++p) out[p] = std::exp(-s(0, p));
  }
};

TEST_F(simulated_market_data, simulated_survival_curve_answers_at_its_date_only) {
  auto credit = std::make_shared<const still_credit>(dates);
  auto object = credit->create_market_data(credit, block(7, 1), block(6, 1), {});
  auto curve = diffusion::diffusion_survival_curve(object);
  ASSERT_NE(curve, nullptr);
  vector<double> out(paths);
  EXPECT_EQ(testing::error_text([&] { curve->survival_probability(out, dates[0]); }),
            "simulated survival curve has no date before states_initialize(), asked at 2026-01-05");
  storage.fill(0.02);
  object->finalize(dates[3]);
  curve->log_survival_probability(out, dates[3], dates[3]);
  for (double v : out) EXPECT_EQ(v, 0.0);
  curve->survival_probability(out, dates[3]);
  for (double v : out) EXPECT_EQ(v, std::exp(-0.02));
  EXPECT_EQ(testing::error_text([&] { curve->survival_probability(out, dates[4]); }),
            "simulated survival curve is at 2026-04-05, asked at 2026-05-05");
  EXPECT_EQ(testing::error_text([&] { curve->log_survival_probability(out, dates[2], dates[5]); }),
            "simulated survival curve is at 2026-04-05, asked at 2026-03-05");
  EXPECT_EQ(testing::error_text([&] { curve->log_survival_probability(out, dates[3], dates[2]); }),
            "simulated survival curve asked from 2026-04-05 to 2026-03-05, an end before its start");
}

}  // namespace
}  // namespace tarvex
