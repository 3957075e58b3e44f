#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Core/tests/testing.h"
#include "Math/bachelier.h"

namespace tarvex {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

struct reference_price {
  double forward, strike, expiry, vol, sign, price;
};
// 50-digit values of theta (F - K) N(theta d) + s n(d), d = (F - K)/s, s = vol sqrt(T),
// for the binary values of the inputs, from arbitrary-precision arithmetic; the last three are 6.6, 11 and 25 standard
// deviations out of the money, where the textbook formula cancels to no digits.
constexpr reference_price references[] = {
    {0.03, 0.03, 1.0, 0.01, 1, 0.0039894228040143268624},
    {0.03, 0.02, 2.0, 0.008, 1, 0.011170202553984508227},
    {0.03, 0.02, 2.0, 0.008, -1, 0.0011702025539845097537},
    {-0.005, 0.02, 10.0, 0.0012, 1, 1.2299225765152073853e-14},
    {0.01, 0.05, 0.5, 0.005, 1, 1.7274061473394811667e-33},
    {0.0, 0.1, 1.0, 0.004, 1, 4.8751881851960415081e-142},
    {0.0, 0.3, 30.0, 0.0018, 1, 3.6686390184697281633e-207},
};

TEST(bachelier, prices_match_high_precision_values_and_parity) {
  for (const auto& r : references) {
    const double p = bachelier::price(r.forward, r.strike, r.expiry, r.vol, 1.0, r.sign);
    // Rounding F - K and vol sqrt(T) perturbs a = |F - K| / s by an ulp, and the price
    // depends on a through exp(-a^2/2): a backward-stable price is good to ~eps (1 + a^2).
    const double a = std::fabs(r.forward - r.strike) / (r.vol * std::sqrt(r.expiry));
    EXPECT_NEAR(p, r.price, 4 * eps * (1 + a * a) * r.price) << r.forward << " " << r.strike << " " << r.expiry;
    // Discounting scales; call minus put is the discounted forward minus strike.
    const double call = bachelier::price(r.forward, r.strike, r.expiry, r.vol, 0.9, 1.0);
    const double put = bachelier::price(r.forward, r.strike, r.expiry, r.vol, 0.9, -1.0);
    EXPECT_NEAR(call - put, 0.9 * (r.forward - r.strike), 1e-17);
  }
  // Zero volatility or expiry: intrinsic value.
  EXPECT_EQ(bachelier::price(0.03, 0.02, 1.0, 0.0, 0.5, 1.0), 0.5 * (0.03 - 0.02));
  EXPECT_EQ(bachelier::price(0.03, 0.02, 0.0, 0.01, 1.0, -1.0), 0.0);
}

TEST(bachelier, vega_matches_central_differences) {
  for (const auto& r : references) {
    if (r.price < 1e-20) continue;  // finite differences of underflowing prices say nothing
    const double h = 1e-6 * r.vol;
    const double fd = (bachelier::price(r.forward, r.strike, r.expiry, r.vol + h, 0.8, r.sign) -
                       bachelier::price(r.forward, r.strike, r.expiry, r.vol - h, 0.8, r.sign)) /
                      (2 * h);
    const double v = bachelier::vega(r.forward, r.strike, r.expiry, r.vol, 0.8);
    EXPECT_NEAR(v, fd, 1e-7 * v) << r.forward << " " << r.strike;
  }
  // At zero volatility only the at-the-money option has a vega.
  EXPECT_NEAR(bachelier::vega(0.02, 0.02, 4.0, 0.0), 2.0 / std::sqrt(2 * M_PI), 1e-16);
  EXPECT_EQ(bachelier::vega(0.02, 0.03, 4.0, 0.0), 0.0);
}

// The inverse's own condition number: a relative price error e moves sigma by
// e * price / (sigma * vega), which is huge deep in the money (the time value drowns in
// the intrinsic value) and below 1 out of the money. Outside the money the inversion
// must be good to 1e-12; inside, to a few ulps of the price through that factor.
double achievable(double price, double forward, double strike, double expiry, double vol) {
  const double condition = price / (vol * bachelier::vega(forward, strike, expiry, vol));
  return std::max(1e-12, 8 * eps * condition);
}

TEST(bachelier, implied_volatility_inverts_across_moneyness_and_expiry) {
  const double forward = 0.025;
  int cases = 0;
  for (double expiry : {1.0 / (365 * 24), 1.0 / 365, 0.25, 1.0, 10.0, 50.0}) {
    for (double vol : {1e-5, 0.0075, 0.03}) {
      const double s = vol * std::sqrt(expiry);
      // Standard deviations from the money, out (+) and in (-), up to the underflow edge.
      for (double a : {0.0, 1e-12, 1e-9, 1e-6, 1e-3, 0.1, 0.5, 1.0, 2.0, 2.999, 3.0, 4.5, 7.0, 12.0, 20.0, 30.0,
                       36.0, -1e-6, -0.3, -1.0, -2.5, -6.0}) {
        for (double sign : {1.0, -1.0}) {
          const double strike = forward + sign * a * s;
          const double p = bachelier::price(forward, strike, expiry, vol, 1.0, sign);
          if (!(p > 0.0) || !std::isnormal(p - std::fmax(sign * (forward - strike), 0.0))) continue;
          const double implied = bachelier::implied_volatility(p, forward, strike, expiry, sign);
          EXPECT_NEAR(implied, vol, achievable(p, forward, strike, expiry, vol) * vol)
              << "T " << expiry << " vol " << vol << " a " << a << " sign " << sign;
          ++cases;
        }
      }
    }
  }
  EXPECT_GT(cases, 700);
}

TEST(bachelier, implied_volatility_edges_and_errors) {
  // At intrinsic, and below it only by rounding, the volatility is zero.
  const double intrinsic = 0.03 - 0.02;
  EXPECT_EQ(bachelier::implied_volatility(intrinsic, 0.03, 0.02, 1.0, 1.0), 0.0);
  EXPECT_EQ(bachelier::implied_volatility(intrinsic * (1 - 4 * eps), 0.03, 0.02, 1.0, 1.0), 0.0);
  EXPECT_EQ(bachelier::implied_volatility(0.0, 0.03, 0.02, 1.0, -1.0), 0.0);
  // At the money the inverse is linear: price = sigma sqrt(T) / sqrt(2 pi).
  EXPECT_NEAR(bachelier::implied_volatility(0.004, 0.03, 0.03, 4.0, -1.0), 0.004 * std::sqrt(2 * M_PI) / 2, 1e-18);
  // The smallest normal price far out of the money still inverts.
  const double tiny = bachelier::price(0.0, 0.3, 30.0, 0.0018, 1.0, 1.0);
  EXPECT_NEAR(bachelier::implied_volatility(tiny, 0.0, 0.3, 30.0, 1.0), 0.0018, 1e-12 * 0.0018);
  // A huge price gives a huge, exact volatility: the normal price has no upper bound.
  EXPECT_NEAR(bachelier::implied_volatility(1e6, 0.03, 0.02, 1.0, 1.0), (1e6 - 0.005) * std::sqrt(2 * M_PI),
              1e-12 * 1e6 * std::sqrt(2 * M_PI));

  using testing::error_text;
  EXPECT_EQ(error_text([] { bachelier::implied_volatility(0.0099, 0.03, 0.02, 1.0, 1.0); }),
            "price is below the intrinsic value: price 0.0099, intrinsic "
            "0.009999999999999998, forward 0.03, strike 0.02");
  EXPECT_NE(error_text([] { bachelier::implied_volatility(NAN, 0.03, 0.02, 1.0, 1.0); }).find("price nan"),
            std::string::npos);
  EXPECT_NE(error_text([] { bachelier::implied_volatility(0.01, 0.03, 0.02, 0.0, 1.0); })
                .find("Expected std::isfinite(expiry) && expiry > 0.0 to be true"),
            std::string::npos);
  EXPECT_NE(error_text([] { bachelier::implied_volatility(0.01, 0.03, 0.02, 1.0, 0.0); })
                .find("option sign must be +1 (call) or -1 (put)"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvex
