#include <gtest/gtest.h>

#include <cmath>

#include "Core/error.h"
#include "Core/tests/testing.h"
#include "Market/equity_spot.h"
#include "Market/interpolated_discount_curve.h"
#include "Market/interpolated_survival_curve.h"

namespace tarvex {
namespace {

const datetime today = datetime::from_string("2026-01-05");
datetime date(const char* iso) { return datetime::from_string(iso); }
double years(const datetime& d) { return day_count_convention().fraction(today, d); }

TEST(interpolated_discount_curve, log_linear_between_pillars_and_flat_forward_beyond) {
  const std::vector<datetime> pillars{date("2027-01-05"), date("2031-01-05"), date("2036-01-05")};
  const std::vector<double> zeros{0.02, 0.03, 0.035};
  interpolated_discount_curve curve(today, pillars, zeros);
  // Pillars reproduce their zero rates.
  for (std::size_t i = 0; i < pillars.size(); ++i) {
    EXPECT_NEAR(curve.log_df(pillars[i]), -zeros[i] * years(pillars[i]), 1e-15);
    EXPECT_NEAR(curve.zero_rate(pillars[i]), zeros[i], 1e-15);
  }
  // Inside a segment ln P is linear in time: the forward is the segment's.
  const double t1 = years(pillars[0]), t2 = years(pillars[1]);
  const double y1 = -zeros[0] * t1, y2 = -zeros[1] * t2;
  const datetime mid = date("2029-03-17");
  const double tm = years(mid);
  EXPECT_NEAR(curve.log_df(mid), y1 + (y2 - y1) * (tm - t1) / (t2 - t1), 1e-15);
  // Before the first pillar the first zero rate holds (node P(today) = 1).
  EXPECT_NEAR(curve.zero_rate(date("2026-07-05")), zeros[0], 1e-15);
  // Beyond the last pillar the last forward continues.
  const double t3 = years(pillars[2]), y3 = -zeros[2] * t3;
  const datetime far = date("2046-01-05");
  EXPECT_NEAR(curve.log_df(far), y3 + (y3 - y2) / (t3 - t2) * (years(far) - t3), 1e-14);
  // log_df(t, T) is the ratio; t == T is exactly zero; df matches.
  EXPECT_NEAR(curve.log_df(mid, far), curve.log_df(far) - curve.log_df(mid), 1e-15);
  EXPECT_EQ(curve.log_df(mid, mid), 0.0);
  EXPECT_NEAR(curve.df(far), std::exp(curve.log_df(far)), 1e-16);
  // Path-wise queries of a live curve broadcast.
  vector<double> out(5);
  curve.log_df(out, mid, far);
  for (double v : out) EXPECT_EQ(v, curve.log_df(mid, far));
  curve.discounting(out, mid);
  for (double v : out) EXPECT_EQ(v, curve.df(today, mid));
  EXPECT_THROW(curve.log_normalized_discounting(), NotImplementedError);
}

TEST(interpolated_discount_curve, discount_factor_quotes_match_zero_quotes) {
  const std::vector<datetime> pillars{date("2026-04-05"), date("2028-01-05")};
  interpolated_discount_curve z(today, pillars, {0.01, 0.02});
  interpolated_discount_curve d(today, pillars, {std::exp(-0.01 * years(pillars[0])), std::exp(-0.02 * years(pillars[1]))},
                                curve_quote_type::discount_factor);
  for (const char* iso : {"2026-02-01", "2027-05-05", "2030-01-01"})
    EXPECT_NEAR(z.log_df(date(iso)), d.log_df(date(iso)), 1e-15);
}

TEST(interpolated_discount_curve, refuses_bad_pillars) {
  using testing::error_text;
  const auto d1 = date("2027-01-05"), d2 = date("2028-01-05");
  EXPECT_EQ(error_text([&] { interpolated_discount_curve(today, {d2, d1}, {0.01, 0.01}); }),
            "Expected dates[i - 1] < dates[i] to be true, but got false.  discount curve pillar dates are not "
            "ascending at 2027-01-05");
  EXPECT_NE(error_text([&] { interpolated_discount_curve(today, {today}, {0.01}); }).find("is not after"),
            std::string::npos);
  EXPECT_NE(error_text([&] { interpolated_discount_curve(today, {d1}, {-0.5}, curve_quote_type::discount_factor); })
                .find("discount factor 0 is -0.5, not positive"),
            std::string::npos);
  EXPECT_NE(error_text([&] { interpolated_discount_curve(today, {d1}, {std::nan("")}); }).find("not finite"),
            std::string::npos);
  EXPECT_NE(error_text([&] { interpolated_discount_curve(today, {d1, d2}, {0.01}); }).find("1 values for 2"),
            std::string::npos);
  interpolated_discount_curve curve(today, {d1}, {0.01});
  EXPECT_NE(error_text([&] { curve.log_df(date("2025-12-31")); }).find("before its valuation date"),
            std::string::npos);
}

TEST(interpolated_survival_curve, hazard_rates_integrate_piecewise) {
  const std::vector<datetime> pillars{date("2027-01-05"), date("2031-01-05")};
  interpolated_survival_curve hazard(today, pillars, {0.01, 0.03});
  const double t1 = years(pillars[0]), t2 = years(pillars[1]);
  const datetime inside = date("2029-06-30");
  const double ti = years(inside);
  EXPECT_NEAR(hazard.log_survival_probability(inside), -0.01 * t1 - 0.03 * (ti - t1), 1e-15);
  const datetime far = date("2040-01-05");
  EXPECT_NEAR(hazard.log_survival_probability(far), -0.01 * t1 - 0.03 * (years(far) - t1), 1e-14);
  interpolated_survival_curve probs(today, pillars, {std::exp(-0.01 * t1), std::exp(-0.01 * t1 - 0.03 * (t2 - t1))},
                                    survival_quote_type::survival_probability);
  EXPECT_NEAR(probs.survival_probability(inside, far), hazard.survival_probability(inside, far), 1e-15);
  using testing::error_text;
  EXPECT_NE(error_text([&] { interpolated_survival_curve(today, pillars, {0.01, -0.02}); }).find("negative"),
            std::string::npos);
  EXPECT_NE(error_text([&] {
              interpolated_survival_curve(today, pillars, {0.9, 0.95}, survival_quote_type::survival_probability);
            }).find("above the previous"),
            std::string::npos);
}

TEST(equity_spot, live_spot_validates_and_has_no_paths) {
  equity_spot s(today, 101.5);
  EXPECT_EQ(s.spot(), 101.5);
  EXPECT_EQ(s.valuation_date(), today);
  EXPECT_THROW(s.spots(), NotImplementedError);
  EXPECT_THROW(equity_spot(today, 0.0), Error);
}

}  // namespace
}  // namespace tarvex
