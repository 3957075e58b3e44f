#include <gtest/gtest.h>

#include <cmath>

#include "Math/black_scholes.h"

namespace tarvex {
namespace {

TEST(black_scholes, prices_match_high_precision_values_and_parity) {
  struct reference {
    double forward, strike, expiry, vol, sign, price;
  };
  // 50-digit values of theta (F N(theta d1) - K N(theta d2)).
  constexpr reference references[] = {
      {100, 100, 1.0, 0.2, 1, 7.9655674554057967338},       {100, 120, 2.0, 0.25, 1, 7.4150944195548008394},
      {100, 120, 2.0, 0.25, -1, 27.415094419554800839},     {0.03, 0.05, 5.0, 0.3, 1, 0.0032336198759560608597},
      {1.0, 0.5, 10.0, 0.4, -1, 0.14791689257347452578},
  };
  for (const auto& r : references) {
    EXPECT_NEAR(black_scholes::price(r.forward, r.strike, r.expiry, r.vol, 1.0, r.sign), r.price, 2e-14 * r.price)
        << r.forward << " " << r.strike;
    const double call = black_scholes::price(r.forward, r.strike, r.expiry, r.vol, 0.7, 1.0);
    const double put = black_scholes::price(r.forward, r.strike, r.expiry, r.vol, 0.7, -1.0);
    EXPECT_NEAR(call - put, 0.7 * (r.forward - r.strike), 1e-13 * r.forward);
  }
  // No variance, or a zero strike: discounted intrinsic value.
  EXPECT_EQ(black_scholes::price(1.2, 1.0, 1.0, 0.0, 0.5, -1.0), 0.0);
  EXPECT_NEAR(black_scholes::price(1.2, 1.0, 0.0, 0.3, 0.5, 1.0), 0.1, 1e-16);
  EXPECT_EQ(black_scholes::price(1.2, 0.0, 2.0, 0.3, 0.5, 1.0), 0.6);
}

TEST(black_scholes, vega_matches_central_differences) {
  for (double strike : {60.0, 100.0, 150.0})
    for (double expiry : {0.1, 1.0, 20.0}) {
      const double vol = 0.25, h = 1e-6;
      const double fd = (black_scholes::price(100, strike, expiry, vol + h, 0.9, -1.0) -
                         black_scholes::price(100, strike, expiry, vol - h, 0.9, -1.0)) /
                        (2 * h);
      const double v = black_scholes::vega(100, strike, expiry, vol, 0.9);
      EXPECT_NEAR(v, fd, 1e-7 * std::max(v, 1.0)) << strike << " " << expiry;
    }
}

}  // namespace
}  // namespace tarvex
