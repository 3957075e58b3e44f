#include <gtest/gtest.h>

#include <cmath>

#include "Core/tests/testing.h"
#include "Instrument/instrument_ir_swaption.h"
#include "Instrument/interest_rate_spread.h"
#include "Instrument/tests/instrument_test_helpers.h"

namespace tarvex {
namespace {

using namespace instrument_testing;
datetime date(const char* iso) { return datetime::from_string(iso); }
const auto act365 = std::make_shared<const day_count_convention>();

interest_rate_spread ten_two(const std::shared_ptr<const discount_curve>& curve) {
  return interest_rate_spread(curve, date("2028-01-05"), date("2038-01-05"), date("2030-01-05"), tenor("1Y"), act365,
                              1.0, 0.8);
}

TEST(interest_rate_spread, value_is_the_weighted_difference_of_swap_rates) {
  auto curve = upward_curve();
  const interest_rate_spread s = ten_two(curve);
  const interest_rate_swap ten(curve, date("2028-01-05"), date("2038-01-05"), tenor("1Y"), act365);
  const interest_rate_swap two(curve, date("2028-01-05"), date("2030-01-05"), tenor("1Y"), act365);
  EXPECT_NEAR(s.spread(), ten.swap_rate() - 0.8 * two.swap_rate(), 1e-16);
  EXPECT_NEAR(s.value(0.004, s.dfs()), s.spread() - 0.004, 1e-16);
  // The union of dates: the long swap's annual dates contain the short one's.
  EXPECT_EQ(s.all_dates(), ten.all_dates());
  EXPECT_EQ(s.expiry(), date("2028-01-05"));
  EXPECT_EQ(s.long_weight(), 1.0);
  EXPECT_EQ(s.short_weight(), 0.8);
}

TEST(interest_rate_spread, adjoint_and_state_hessian_match_finite_differences) {
  auto curve = upward_curve();
  // Semi-annual short swap against an annual long one: dates that only one swap has.
  const interest_rate_spread s(curve, date("2028-01-05"), date("2033-01-05"), date("2030-01-05"), tenor("6M"), act365,
                               1.3, 0.7);
  const matrix<double> d = loadings(s.all_dates(), 2);
  const vector<double> x{0.4, 1.1};
  const std::vector<double> p = state_dfs(s.dfs(), d, x);
  std::vector<double> adjoint;
  EXPECT_EQ(s.value_aad(1.5, 0.01, p, adjoint), s.value(0.01, p));
  for (std::size_t j = 0; j < p.size(); ++j) {
    std::vector<double> up = p, down = p;
    up[j] += 1e-6;
    down[j] -= 1e-6;
    EXPECT_NEAR(adjoint[j], 1.5 * (s.value(0.01, up) - s.value(0.01, down)) / 2e-6, 1e-8) << j;
  }
  // Second derivatives in x against central differences of the value (step 1e-3:
  // truncation ~h^2 v'''' ~ 1e-8 of the entries, rounding ~eps v / h^2 ~ 1e-10).
  matrix<double> h;
  s.hessian(h, 2.0, d, 0.01, p);
  auto v = [&](double a, double b) { return s.value(0.01, state_dfs(s.dfs(), d, vector<double>{a, b})); };
  const double e = 1e-3;
  const double hxx = (v(x[0] + e, x[1]) - 2 * v(x[0], x[1]) + v(x[0] - e, x[1])) / (e * e);
  const double hyy = (v(x[0], x[1] + e) - 2 * v(x[0], x[1]) + v(x[0], x[1] - e)) / (e * e);
  const double hxy = (v(x[0] + e, x[1] + e) - v(x[0] + e, x[1] - e) - v(x[0] - e, x[1] + e) + v(x[0] - e, x[1] - e)) /
                     (4 * e * e);
  EXPECT_NEAR(h(0, 0), 2 * hxx, 1e-6 * std::fabs(hxx) + 1e-9);
  EXPECT_NEAR(h(1, 1), 2 * hyy, 1e-6 * std::fabs(hyy) + 1e-9);
  EXPECT_NEAR(h(0, 1), 2 * hxy, 1e-6 * std::fabs(hxy) + 1e-9);
  EXPECT_NEAR(h(0, 1), h(1, 0), 1e-14 * std::fabs(h(0, 1)));
}

TEST(instrument_ir_swaption, strikes_are_absolute_or_offsets_from_the_forward) {
  auto curve = upward_curve();
  const instrument_ir_swaption absolute(true, curve, date("2027-01-05"), date("2032-01-05"), tenor("1Y"), act365,
                                        {0.02, 0.03}, false);
  const instrument_ir_swaption offsets(false, curve, date("2027-01-05"), date("2032-01-05"), tenor("1Y"), act365,
                                       {-0.01, 0.0}, true);
  const double f = absolute.swap()->swap_rate();
  EXPECT_EQ(absolute.strikes(), (std::vector<double>{0.02, 0.03}));
  EXPECT_EQ(offsets.strikes(), (std::vector<double>{-0.01 + f, f}));
  EXPECT_TRUE(absolute.is_call());
  EXPECT_EQ(offsets.sign(), -1.0);
  EXPECT_EQ(absolute.swap()->all_dates().size(), 6u);
  EXPECT_EQ(testing::error_text([&] {
              instrument_ir_swaption(true, curve, date("2027-01-05"), date("2032-01-05"), tenor("1Y"), act365, {}, false);
            }),
            "Expected !strikes_.empty() to be true, but got false.  swaption has no strikes");
}

}  // namespace
}  // namespace tarvex
