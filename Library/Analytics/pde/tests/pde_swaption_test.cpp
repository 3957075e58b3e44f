#include <gtest/gtest.h>

#include <cmath>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/pde/tests/pde_hjm_testing.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using namespace pde_testing;

constexpr double bp = 1e-4;

// Closed-form payer price of the HJM calibration instrument; receivers by parity.
double closed_form(const std::shared_ptr<const parameter_markovian_hjm>& p, const interest_rate_swap& swap,
                   double strike, bool payer) {
  const model_markovian_hjm model(*p, today, {}, true, {});
  const calibration_ir_hjm_swaption target(
      std::make_shared<const interest_rate_swap>(swap.curve(), swap.start(), swap.end(), swap.frequency(), nullptr));
  vector<double> root, gradient;
  target.initial_root(root, strike, model);
  const double price = target.value(strike, model, root, gradient, 50, 1e-14);
  return payer ? price : price - swap.value(strike, swap.dfs());
}

TEST(pde_swaption, european_prices_match_the_closed_form) {
  // 0.05 bp of notional; with one factor the closed form is exact, with two its
  // hyperplane boundary is exact to the boundary's curvature. Measured: within 0.005 bp
  // (one factor, 801 nodes, 3-day steps), 0.027 bp (two, 201 x 201, weekly).
  const auto c = upward_curve();
  struct row {
    std::shared_ptr<const parameter_markovian_hjm> p;
    int expiry, end;
    std::size_t points;
    double step;
  };
  for (const row& r : {row{hjm({0.05}, {0.01}), 5, 10, 801, 3.0}, row{hjm({0.02, 0.6}, {0.008, 0.006}, -0.5), 2, 7, 201, 7.0}}) {
    const auto swaps = underlyings(c, r.expiry, r.expiry, r.end);
    const double atm = swaps[0]->swap_rate();
    for (const double strike : {atm - 0.01, atm, atm + 0.01})
      for (const bool payer : {true, false}) {
        const auto option = std::make_shared<const pde_swaption>(payer, 1.0, strike, swaps);
        const double pde = pde_price(r.p, c, option, r.points, r.step).price;
        const double expected = closed_form(r.p, *swaps[0], strike, payer);
        EXPECT_NEAR(pde, expected, 0.05 * bp) << r.p->number_of_factors() << " " << strike << " " << payer;
      }
  }
}

TEST(pde_swaption, forward_density_gives_the_backward_price) {
  const auto c = upward_curve();
  const auto p = hjm({0.05}, {0.01});
  const auto swaps = underlyings(c, 3, 3, 8);
  const double strike = swaps[0]->swap_rate() + 0.002;
  const double back = pde_price(p, c, std::make_shared<const pde_swaption>(true, 1.0, strike, swaps), 201, 10.0).price;
  const double forth =
      pde_price(p, c, std::make_shared<const pde_swaption>(true, 1.0, strike, swaps, true), 201, 10.0, true).price;
  EXPECT_NEAR(forth, back, 1e-14);
}

TEST(pde_swaption, bad_trades_are_refused) {
  const auto c = upward_curve();
  const auto swaps = underlyings(c, 1, 2, 5);
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, -1.0, 0.03, swaps); }),
            "swaption notional must be non-negative");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, {}); }), "swaption has no exercise date");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, {swaps[1], swaps[0]}); }),
            "swaption exercise dates must ascend");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, swaps, true); }),
            "forward PDE grids price European swaptions only");
}

}  // namespace
}  // namespace tarvex
