#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <tuple>

#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/ir/diffusion_ir_cheyette.h"
#include "Analytics/diffusion/ir/discount_curve_diffusion.h"
#include "Analytics/models/model_cheyette.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Market/interpolated_discount_curve.h"
#include "Math/bachelier.h"
#include "Random/random_type.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2036, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.025, 0.031, 0.034, 0.032});
}

// Skews of +-20 per unit of rate move the local volatility by +-20% per 100 bp.
std::shared_ptr<const parameter_cheyette> rates(std::size_t n, double skew) {
  const std::vector<double> k{0.03, 0.5}, s{0.01, 0.006};
  const auto hjm = constant_parameters({k.begin(), k.begin() + long(n)}, {s.begin(), s.begin() + long(n)},
                                       uniform_correlation(n, -0.3));
  matrix<double> b(1, n, skew);
  if (n > 1) b(0, 1) = -0.5 * skew;
  return std::make_shared<const parameter_cheyette>(hjm, b, std::vector<datetime>{valuation}, 0.0);
}

std::shared_ptr<const random_config> config(std::size_t paths, std::size_t dates, std::size_t n, std::size_t batch = 0) {
  return std::make_shared<const random_config>(random_type::philox, 20261207, paths, dates, n, batch, false, false,
                                               random_type::philox, device_type::cpu);
}

struct run {
  std::shared_ptr<const diffusion_ir_cheyette> diffusion;
  std::unique_ptr<simulation_manager> manager;
  run(const std::vector<datetime>& dates, std::size_t n, double skew, std::size_t paths, std::size_t batch = 0)
      : diffusion(std::make_shared<const diffusion_ir_cheyette>(dates, curve(), rates(n, skew))),
        manager(std::make_unique<simulation_manager>(std::vector<std::shared_ptr<const tarvex::diffusion>>{diffusion},
                                                     std::vector<std::shared_ptr<const change_of_measure>>{nullptr},
                                                     uniform_correlation(n, 0.0), config(paths, dates.size(), n, batch),
                                                     dates)) {
    manager->states_initialize();
  }
  std::shared_ptr<const discount_curve> sim() const { return tarvex::diffusion::diffusion_discount_curve(manager->data(0)); }
};

std::pair<double, double> mean_and_se(const vector<double>& v) {
  double s = 0.0, s2 = 0.0;
  for (double x : v) s += x, s2 += x * x;
  const double n = double(v.size()), m = s / n;
  return {m, std::sqrt((s2 / n - m * m) / (n - 1))};
}

TEST(diffusion_ir_cheyette, sizes_and_log_df_on_the_same_date) {
  const auto dates = monthly_dates(4, 1);
  const diffusion_ir_cheyette two(dates, curve(), rates(2, 10.0)), one(dates, curve(), rates(1, 10.0));
  EXPECT_EQ(two.number_of_states(), 10u);
  EXPECT_EQ(two.number_of_factors(), 2u);
  EXPECT_EQ(two.log_normalized_discounting_index(), 8u);
  EXPECT_EQ(one.number_of_states(), 4u);
  EXPECT_EQ(one.log_normalized_discounting_index(), 3u);
  matrix<double> states(10, 3, 0.7);
  vector<double> out(3, 5.0);
  two.log_df(out, states, dates[2], dates[2]);
  for (double v : out) EXPECT_EQ(v, 0.0);
}

TEST(diffusion_ir_cheyette, deflated_bonds_are_martingales) {
  const auto dates = monthly_dates(21, 3);  // five years quarterly
  const std::size_t paths = 16384;
  for (std::size_t n : {1u, 2u})
    for (double skew : {20.0, -20.0}) {
      run r(dates, n, skew, paths);
      const auto sim = r.sim();
      vector<double> numeraire(paths), bond(paths);
      for (std::size_t k = 1; k < dates.size(); ++k) {
        r.manager->propagate(k);
        if (k % 4 != 0) continue;
        sim->discounting(numeraire, dates[k]);
        for (const datetime T : {dates.back(), datetime(2036, 1, 5)}) {
          sim->log_df(bond, dates[k], T);
          for (std::size_t p = 0; p < paths; ++p) bond[p] = numeraire[p] * std::exp(bond[p]);
          const auto [mean, se] = mean_and_se(bond);
          const double today = curve()->df(valuation, T);
          ASSERT_GT(se, 1e-5 * today);
          EXPECT_LE(std::fabs(mean - today), 3.0 * se) << n << " factors, skew " << skew << ", date " << k;
        }
      }
    }
}

TEST(diffusion_ir_cheyette, batches_are_slices_of_one_run) {
  const auto dates = monthly_dates(13, 1);
  run whole(dates, 2, 20.0, 4000);
  std::vector<std::unique_ptr<run>> parts;
  for (std::size_t b = 0; b < 4; ++b) parts.push_back(std::make_unique<run>(dates, 2, 20.0, 1000, b));
  for (std::size_t k = 1; k < dates.size(); ++k) {
    whole.manager->propagate(k);
    const auto& big = static_cast<const discount_curve_diffusion&>(*whole.manager->data(0)).states();
    for (std::size_t p = 0; p < 4000; ++p) {  // Y symmetric bit for bit; workspace and spare rows untouched
      ASSERT_EQ(big(3, p), big(4, p)) << "step " << k << " path " << p;
      for (std::size_t row : {6u, 7u, 9u}) ASSERT_EQ(big(row, p), 0.0) << "step " << k << " row " << row;
    }
    for (std::size_t b = 0; b < 4; ++b) {
      parts[b]->manager->propagate(k);
      const auto& small = static_cast<const discount_curve_diffusion&>(*parts[b]->manager->data(0)).states();
      for (std::size_t row = 0; row < 10; ++row)
        for (std::size_t p = 0; p < 1000; ++p)
          ASSERT_EQ(small(row, p), big(row, b * 1000 + p)) << "step " << k << " row " << row << " path " << p;
    }
  }
}

// The skews of these tests bend the smile visibly: implied normal volatilities of a 5Y
// expiry caplet on the 1Y rate, at the money and 100 bp either side, on the same paths.
TEST(diffusion_ir_cheyette, skew_bends_the_caplet_smile) {
  const auto c = curve();
  const auto dates = monthly_dates(21, 3);
  const datetime expiry = dates.back(), pay(2032, 1, 5);
  const double forward = c->df(valuation, expiry) / c->df(valuation, pay) - 1.0;
  const std::size_t paths = 32768;
  for (double skew : {20.0, -20.0}) {
    run r(dates, 1, skew, paths);
    for (std::size_t k = 1; k < dates.size(); ++k) r.manager->propagate(k);
    vector<double> numeraire(paths), log_bond(paths);
    r.sim()->discounting(numeraire, expiry);
    r.sim()->log_df(log_bond, expiry, pay);
    double vol[3];
    for (int s = -1; s <= 1; ++s) {
      const double strike = forward + 0.01 * s;
      double sum = 0.0;
      for (std::size_t p = 0; p < paths; ++p) {
        const double bond = std::exp(log_bond[p]);
        sum += numeraire[p] * bond * std::max(1.0 / bond - 1.0 - strike, 0.0);
      }
      vol[s + 1] = bachelier::implied_volatility(sum / paths / c->df(valuation, pay), forward, strike, 5.0, 1.0);
    }
    std::printf("skew %+.0f: normal vols %.1f / %.1f / %.1f bp at -100 / 0 / +100 bp\n", skew, 1e4 * vol[0],
                1e4 * vol[1], 1e4 * vol[2]);
    // Measured +18.7 and -17.5 bp between the wings (32768 paths, same paths for all strikes).
    EXPECT_GT(skew * (vol[2] - vol[0]) / std::fabs(skew), 0.0013) << skew;
  }
}

// 5Y x 5Y payer swaption at the money (annual fixed leg) on grids of 12, 3 and 1 months:
// the local volatility is frozen over a step, so coarse grids carry a discretisation bias.
TEST(diffusion_ir_cheyette, swaption_price_converges_as_the_grid_is_refined) {
  const auto c = curve();
  const datetime expiry(2031, 1, 5);
  std::vector<datetime> pay;
  for (int y = 1; y <= 5; ++y) pay.emplace_back(2031 + y, 1, 5);
  double annuity0 = 0.0;
  for (const auto& d : pay) annuity0 += c->df(valuation, d);  // unit accruals
  const double strike = (c->df(valuation, expiry) - c->df(valuation, pay.back())) / annuity0;
  const std::size_t paths = 32768;
  double price[3], se[3];
  const int months[3] = {12, 3, 1};
  for (int g = 0; g < 3; ++g) {
    const auto dates = monthly_dates(60 / months[g] + 1, months[g]);
    run r(dates, 2, 20.0, paths);
    for (std::size_t k = 1; k < dates.size(); ++k) r.manager->propagate(k);
    const auto sim = r.sim();
    vector<double> numeraire(paths), log_bond(paths), annuity(paths, 0.0), value(paths);
    sim->discounting(numeraire, expiry);
    for (const auto& d : pay) {
      sim->log_df(log_bond, expiry, d);
      for (std::size_t p = 0; p < paths; ++p) annuity[p] += std::exp(log_bond[p]);
    }
    for (std::size_t p = 0; p < paths; ++p) {
      const double swap = 1.0 - std::exp(log_bond[p]) - strike * annuity[p];
      value[p] = numeraire[p] * std::max(swap, 0.0);
    }
    std::tie(price[g], se[g]) = mean_and_se(value);
  }
  for (int g = 0; g < 2; ++g)
    std::printf("grid %2d months: price %.6e, bias against monthly %+.3e (se of the difference %.1e)\n", months[g],
                price[g], price[g] - price[2], std::hypot(se[g], se[2]));
  std::printf("grid  1 months: price %.6e (se %.1e)\n", price[2], se[2]);
  // The quarterly grid is within noise of the monthly one; the annual one is not further off
  // than three of its standard errors plus its own bias.
  EXPECT_LE(std::fabs(price[1] - price[2]), 3.0 * std::hypot(se[1], se[2]));
  EXPECT_LE(std::fabs(price[1] - price[2]), std::fabs(price[0] - price[2]) + 3.0 * std::hypot(se[1], se[2]));
}

}  // namespace
}  // namespace tarvex
