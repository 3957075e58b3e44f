#include <gtest/gtest.h>

#include <cmath>

#include "Core/tests/testing.h"
#include "Instrument/interest_rate_swap.h"
#include "Instrument/tests/instrument_test_helpers.h"
#include "Market/ir_volatility_surface.h"
#include "Math/bachelier.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

using namespace instrument_testing;
datetime date(const char* iso) { return datetime::from_string(iso); }
const auto act360 = std::make_shared<const day_count_convention>(day_count_convention_type::act_360);

TEST(interest_rate_swap, legs_dates_and_indices_follow_the_schedule) {
  auto curve = upward_curve();
  interest_rate_swap s(curve, date("2027-01-29"), date("2028-01-31"), tenor("6M"), act360);
  // start + 6M, then the end: the two-day stub after start + 12M joins the last period.
  const std::vector<datetime> expected{date("2027-01-29"), date("2027-07-29"), date("2028-01-31")};
  EXPECT_EQ(s.all_dates(), expected);
  EXPECT_EQ(s.fixed_pay_index(), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(s.float_start_index(), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(s.float_end_index(), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(s.float_pay_index(), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(s.fixed_leg_instrument().dcf(0), 181.0 / 360);
  EXPECT_EQ(s.fixed_leg_instrument().dcf(1), 186.0 / 360);
  EXPECT_EQ(s.float_leg_instrument().accrual(1), 186.0 / 360);
  EXPECT_EQ(s.float_leg_instrument().dcf(1), 1.0);
  EXPECT_EQ(s.expiry(), date("2027-01-29"));
  EXPECT_EQ(s.expiry_double(), 389.0 / 360);
  EXPECT_EQ(s.tenor_double(), 1.0);
  EXPECT_FALSE(s.is_caplet());
  for (std::size_t j = 0; j < expected.size(); ++j) EXPECT_EQ(s.dfs()[j], curve->df(expected[j]));

  // A payment lag moves both legs' payments and adds their dates.
  interest_rate_swap lag(curve, date("2027-01-05"), date("2027-07-05"), tenor("3M"), act360, tenor("2D"));
  EXPECT_EQ(lag.all_dates(), (std::vector<datetime>{date("2027-01-05"), date("2027-04-05"), date("2027-04-07"),
                                                    date("2027-07-05"), date("2027-07-07")}));
  EXPECT_EQ(lag.float_end_index(), (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(lag.float_pay_index(), (std::vector<std::size_t>{2, 4}));
  EXPECT_EQ(lag.fixed_pay_index(), (std::vector<std::size_t>{2, 4}));
  EXPECT_TRUE(interest_rate_swap(curve, date("2030-01-05"), date("2030-04-05"), tenor("3M"), act360).is_caplet());
  EXPECT_EQ(interest_rate_swap(curve, date("2030-01-05"), date("2040-01-05"), tenor("1Y"), act360).tenor_double(),
            10.0);
}

TEST(interest_rate_swap, annuity_rate_and_value_match_the_curve) {
  auto curve = upward_curve();
  interest_rate_swap s(curve, date("2028-03-10"), date("2035-03-10"), tenor("3M"), act360);
  // Independent reference: walk the quarterly schedule with the curve's discount factors.
  double annuity = 0.0, floating = 0.0;
  datetime prev = date("2028-03-10");
  for (int q = 1; q <= 28; ++q) {
    const datetime next = datetime_helper::add_tenor(date("2028-03-10"), tenor(3 * q, tenor::unit::months));
    annuity += (next.value() - prev.value()) / 360.0 * curve->df(next);
    floating += curve->df(prev) - curve->df(next);
    prev = next;
  }
  EXPECT_NEAR(s.annuity(), annuity, 1e-15 * annuity);
  EXPECT_NEAR(s.swap_rate(), floating / annuity, 1e-15);
  EXPECT_NEAR(s.value(s.swap_rate(), s.dfs()), 0.0, 1e-16);
  EXPECT_NEAR(s.value(0.01, s.dfs()), annuity * (s.swap_rate() - 0.01), 1e-16);
  // Given discount factors: a flat shift of every P by c scales everything by c.
  std::vector<double> scaled = s.dfs();
  for (double& p : scaled) p *= 0.9;
  EXPECT_NEAR(s.annuity(scaled), 0.9 * annuity, 1e-15);
  EXPECT_NEAR(s.swap_rate(scaled), s.swap_rate(), 1e-16);
}

// Central differences of f along coordinate i of a copy of y.
template <class F, class Y>
double central(F&& f, Y y, std::size_t i, double h) {
  const double y0 = y[i];
  y[i] = y0 + h;
  const double up = f(y);
  y[i] = y0 - h;
  const double down = f(y);
  return (up - down) / (2 * h);
}

TEST(interest_rate_swap, adjoints_and_state_hessian_match_finite_differences) {
  auto curve = upward_curve();
  for (const tenor& lag : {tenor(), tenor("5D")}) {
    interest_rate_swap s(curve, date("2028-03-10"), date("2031-03-10"), tenor("6M"), act360, lag);
    const double strike = 0.031;
    const matrix<double> d = loadings(s.all_dates(), 2);
    const vector<double> x{0.7, -1.3};
    const std::vector<double> p = state_dfs(s.dfs(), d, x);
    // dV/dP, seeded and accumulated onto what the buffer held.
    std::vector<double> adjoint(p.size(), 1.0);
    EXPECT_EQ(s.swap_value_aad(2.0, strike, p, adjoint), s.value(strike, p));
    for (std::size_t j = 0; j < p.size(); ++j) {
      const double fd = central([&](const std::vector<double>& q) { return s.value(strike, q); }, p, j, 1e-6);
      EXPECT_NEAR(adjoint[j] - 1.0, 2.0 * fd, 1e-9) << lag.to_string() << " " << j;
    }
    // dV/dx through the chain rule of model_dfs.
    std::vector<double> dv;
    s.swap_value_aad(1.0, strike, p, dv);
    vector<double> g;
    interest_rate_swap::gradient(g, dv, d, p);
    auto value_at = [&](const vector<double>& y) { return s.value(strike, state_dfs(s.dfs(), d, y)); };
    for (std::size_t k = 0; k < 2; ++k) EXPECT_NEAR(g[k], central(value_at, x, k, 1e-5), 1e-10) << k;
    // d2V/dx2: central differences of the gradient; with a lag the convexity term enters.
    matrix<double> h;
    s.swap_value_aad_second(h, 0.5, d, strike, p);
    for (std::size_t k = 0; k < 2; ++k)
      for (std::size_t l = 0; l < 2; ++l) {
        auto gradient_at = [&](const vector<double>& y) {
          const std::vector<double> q = state_dfs(s.dfs(), d, y);
          std::vector<double> a;
          s.swap_value_aad(1.0, strike, q, a);
          vector<double> out;
          interest_rate_swap::gradient(out, a, d, q);
          return out[k];
        };
        EXPECT_NEAR(h(k, l), 0.5 * central(gradient_at, x, l, 1e-5), 1e-10) << lag.to_string() << k << l;
      }
  }
}

TEST(interest_rate_swap, implied_volatilities_from_prices_and_from_the_surface) {
  auto curve = upward_curve();
  interest_rate_swap s(curve, date("2028-01-05"), date("2033-01-05"), tenor("1Y"), act360);
  const double sigma = 0.0087, T = s.expiry_double(), F = s.swap_rate(), A = s.annuity();
  for (double strike : {F - 0.02, F, F + 0.015})
    for (double sign : {1.0, -1.0}) {
      const double price = A * bachelier::price(F, strike, T, sigma, 1.0, sign);
      EXPECT_NEAR(s.implied_volatility(price, strike, sign), sigma, 1e-12 * sigma) << strike << " " << sign;
      // d sigma / d price against differences of the inverse itself.
      double adjoint = 0.25;
      EXPECT_EQ(s.implied_volatility_aad(price, strike, sign, 3.0, adjoint), s.implied_volatility(price, strike, sign));
      const double h = 1e-6 * price;
      const double fd =
          (s.implied_volatility(price + h, strike, sign) - s.implied_volatility(price - h, strike, sign)) / (2 * h);
      EXPECT_NEAR(adjoint - 0.25, 3.0 * fd, 1e-6 * 3.0 * fd) << strike << " " << sign;
    }
  // At intrinsic the volatility is 0 and, out of the money, its slope is unbounded: no adjoint.
  double adjoint = 0.0;
  EXPECT_EQ(s.implied_volatility_aad(0.0, F + 0.01, 1.0, 1.0, adjoint), 0.0);
  EXPECT_EQ(adjoint, 0.0);

  // The surface is read at (expiry in the swap's day count, 5 years, K - F): only that
  // node's smile differs from the rest.
  std::vector<double> cube(3 * 3 * 2, 0.02);
  cube[(1 * 3 + 1) * 2 + 0] = 0.007;
  cube[(1 * 3 + 1) * 2 + 1] = 0.006;
  ir_volatility_surface surface(today, {1.0, T, 3.0}, {2.0, 5.0, 10.0}, cube, {-0.01, 0.01});
  EXPECT_NEAR(s.implied_volatility(surface, F - 0.01), 0.007, 1e-16);
  EXPECT_NEAR(s.implied_volatility(surface, F + 0.01), 0.006, 1e-16);
  EXPECT_NEAR(s.implied_volatility(surface, F), 0.0065, 1e-16);
}

TEST(interest_rate_swap, invalid_swaps_are_refused) {
  using testing::error_text;
  auto curve = upward_curve();
  EXPECT_EQ(error_text([&] { interest_rate_swap(curve, date("2028-01-05"), date("2028-01-05"), tenor("3M"), act360); }),
            "Expected start_ < end_ to be true, but got false.  swap end 2028-01-05 is not after its start 2028-01-05");
  EXPECT_EQ(error_text([&] { interest_rate_swap(curve, date("2025-12-31"), date("2028-01-05"), tenor("3M"), act360); }),
            "Expected !(start_ < curve_->valuation_date()) to be true, but got false.  swap start 2025-12-31 is "
            "before the curve date 2026-01-05");
  EXPECT_EQ(error_text([&] { interest_rate_swap(curve, date("2027-01-05"), date("2028-01-05"), tenor("0M"), act360); }),
            "Expected frequency_.count() > 0 to be true, but got false.  swap frequency 0M is not positive");
  EXPECT_EQ(error_text([&] { interest_rate_swap(nullptr, date("2027-01-05"), date("2028-01-05"), tenor("3M"), act360); }),
            "Expected curve_ != nullptr to be true, but got false.  swap needs a discount curve");
  interest_rate_swap s(curve, date("2027-01-05"), date("2028-01-05"), tenor("6M"), act360);
  EXPECT_EQ(error_text([&] { s.value(0.01, {1.0, 0.9}); }),
            "Expected dfs.size() == n to be true, but got false.  discount factors have size 2, the swap has 3 dates");
}

}  // namespace
}  // namespace tarvex
