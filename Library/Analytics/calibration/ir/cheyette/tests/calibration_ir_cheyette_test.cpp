#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

const datetime valuation(2026, 1, 5);
const auto act365 = std::make_shared<const day_count_convention>();
const std::vector<double> offsets{-0.02, -0.01, -0.005, 0.0, 0.005, 0.01, 0.02};

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

// Co-terminal smiles 1Y..4Y into 5Y, seven strikes each.
std::shared_ptr<const calibration_ir_targets_configuration> targets() {
  return std::make_shared<const calibration_ir_targets_configuration>(
      tenor("1Y"), std::vector<tenor>{tenor("1Y"), tenor("2Y"), tenor("3Y"), tenor("4Y")}, tenor("5Y"),
      std::vector<tenor>{}, std::vector<std::vector<double>>(4, offsets), false, true, false);
}

// An HJM set on the calibration's grids (the HJM calibrator builds the same ones).
std::shared_ptr<parameter_markovian_hjm> hjm(double kappa, const std::vector<double>& sigma) {
  const calibration_ir_hjm grids(valuation, curve(), targets(), act365);
  matrix<double> k(grids.maturity_dates().size(), 1, kappa), s(sigma.size(), 1);
  for (std::size_t i = 0; i < sigma.size(); ++i) s(i, 0) = sigma[i];
  return std::make_shared<parameter_markovian_hjm>(k, s, matrix<double>(1, 1, 1.0), grids.maturity_dates(),
                                                   grids.expiry_dates(), act365,
                                                   parameter_markovian_hjm_type::mean_reversion);
}

// A cube holding each target's smile at its (expiry, tenor) node: row i of every tenor
// column carries target i's vols, so the bilinear lookup at the node returns them.
std::shared_ptr<const ir_volatility_surface> cube(const calibration_ir_cheyette& c,
                                                  const std::vector<std::vector<double>>& smiles) {
  std::vector<double> expiries, tenors;
  for (const auto& s : c.swaptions()) {
    expiries.push_back(s->swaptions()->swap()->expiry_double());
    tenors.insert(tenors.begin(), s->swaptions()->swap()->tenor_double());
  }
  std::vector<double> vols;
  for (std::size_t i = 0; i < expiries.size(); ++i)
    for (std::size_t j = 0; j < tenors.size(); ++j) vols.insert(vols.end(), smiles[i].begin(), smiles[i].end());
  return std::make_shared<const ir_volatility_surface>(valuation, expiries, tenors, vols, offsets);
}

// Smiles of a known Cheyette set, priced by the targets themselves.
std::vector<std::vector<double>> smiles_of(const calibration_ir_cheyette& c, const parameter_cheyette& p) {
  std::vector<datetime> dates{valuation};
  for (const auto& d : p.parameters()->volatilities_dates()) dates.push_back(d);
  const auto model = std::make_shared<const model_cheyette>(p, valuation, dates, true, false);
  std::vector<std::vector<double>> out;
  for (const auto& s : c.swaptions()) {
    out.emplace_back();
    s->values(out.back(), model, model->variance(s->expiry()));
  }
  return out;
}

const auto settings = std::make_shared<const calibration_cheyette_settings>(
    std::vector<double>{0.0001, 0.05}, std::vector<double>{-0.2, 0.5}, std::vector<double>{-40.0, 40.0},
    parameter_markovian_hjm_type::mean_reversion, false, 200, 1e-12);

// Smiles from known volatilities and skews are recovered from another start: every
// strike within 0.05 bp, skews and volatilities to 1e-4 relative; the fitted decays and
// volatilities land in the caller's HJM set, which the result shares. The smile at an
// expiry sees the skews before it through sum sv^2 b^2 and the sign of sum sv^2 b only,
// so the skews are identified when they share a sign (one of opposite sign and small
// enough not to flip the sum could be fitted with either sign).
TEST(calibration_ir_cheyette, recovers_known_smiles_from_another_start) {
  const calibration_ir_cheyette c(valuation, curve(), targets(), act365);
  ASSERT_EQ(c.swaptions().size(), 4u);
  const std::vector<double> sigma{0.009, 0.008, 0.0075, 0.007}, skews{12.0, 8.0, 6.0, 4.0};
  const auto truth_hjm = hjm(0.03, sigma);
  matrix<double> skew(4, 1);
  for (std::size_t k = 0; k < 4; ++k) skew(k, 0) = skews[k];
  const parameter_cheyette truth(truth_hjm, skew, truth_hjm->volatilities_dates(), -5.0);
  const auto market = smiles_of(c, truth);
  EXPECT_GT(std::fabs(market[0].front() - market[0].back()), 10e-4);  // a visible smile

  const auto start = hjm(0.03, {0.01, 0.01, 0.01, 0.01});
  calibration_ir_cheyette_report report;
  const auto fitted = c.calibrate(cube(c, market), settings, start, report);
  EXPECT_EQ(fitted->parameters(), start);
  EXPECT_LT(report.worst_bp, 0.05) << report.rms_bp;
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_NEAR(fitted->skew_parameter()(k, 0), skews[k], 1e-4 * std::fabs(skews[k])) << k;
    EXPECT_NEAR(start->volatilities()(k, 0), sigma[k], 1e-4 * sigma[k]) << k;
  }
  std::size_t strikes = 0;
  for (const auto& t : report.targets) strikes += t.model.size();
  EXPECT_EQ(strikes, 4 * offsets.size());
}

// A flat quoted smile: only its first strike is weighted, it gives no starting skew (so
// one skew row fewer), and its residuals stay counted. With every smile flat no skew
// enters the fit.
TEST(calibration_ir_cheyette, repeated_quotes_are_weighted_zero_and_give_no_skew) {
  const calibration_ir_cheyette c(valuation, curve(), targets(), act365);
  std::vector<std::vector<double>> market(4);
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t k = 0; k < offsets.size(); ++k) market[i].push_back(0.009 + (i < 3 ? 0.02 * offsets[k] : 0.0));
  auto quick = std::make_shared<const calibration_cheyette_settings>(
      settings->volatility_bounds(), settings->decay_bounds(), settings->skew_bounds(), settings->type(), false, 3,
      1e-8);
  calibration_ir_cheyette_report report;
  const auto fitted = c.calibrate(cube(c, market), quick, hjm(0.03, {0.01, 0.01, 0.01, 0.01}), report);
  EXPECT_EQ(fitted->skew_parameter().rows(), 3u);
  EXPECT_EQ(report.targets[3].weights, (std::vector<int>{1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(report.targets[0].weights, (std::vector<int>(7, 1)));
  EXPECT_EQ(report.targets[3].model.size(), 7u);
  // No smile anywhere: no skew is fitted, the set keeps one zero row.
  for (auto& row : market) row.assign(offsets.size(), 0.009);
  const auto flat = c.calibrate(cube(c, market), quick, hjm(0.03, {0.01, 0.01, 0.01, 0.01}), report);
  ASSERT_EQ(flat->skew_parameter().rows(), 1u);
  EXPECT_EQ(flat->skew_parameter()(0, 0), 0.0);
}

}  // namespace
}  // namespace tarvex
