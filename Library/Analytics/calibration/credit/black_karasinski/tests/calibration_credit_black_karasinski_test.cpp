#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Analytics/calibration/credit/black_karasinski/calibration_credit_black_karasinski.h"
#include "Analytics/pde/tests/bk_solver_harness.h"
#include "Core/logger.h"
#include "Core/tests/testing.h"
#include "Market/interpolated_survival_curve.h"

namespace tarvex {
namespace {

using namespace bk_testing;
using testing::error_text;

// 20 pillars to 30 years; piecewise-flat market hazards around `hazard`.
std::vector<datetime> pillars() {
  std::vector<datetime> d{valuation};
  for (int m : {6, 12, 18, 24, 36, 48, 60, 72, 84, 96, 108, 120, 144, 168, 192, 216, 240, 300, 360})
    d.emplace_back(valuation.year() + m / 12, 1 + m % 12, 5);
  return d;
}

std::shared_ptr<const survival_curve> market(double hazard) {
  const auto d = pillars();
  std::vector<datetime> dates(d.begin() + 1, d.end());
  std::vector<double> hazards;
  for (std::size_t i = 0; i < dates.size(); ++i) hazards.push_back(hazard * (1.0 + 0.3 * std::sin(double(i))));
  return std::make_shared<const interpolated_survival_curve>(valuation, dates, hazards);
}

std::shared_ptr<const parameter_markovian_hjm> hjm_testing_rates() { return hjm_part(0.05, 0.01); }

std::shared_ptr<parameter_black_karasinski> start(double kappa = 0.1, double sigma = 0.6) {
  return with_levels(hjm_part(kappa, sigma, 0.8), pillars(), std::vector<double>(20, 0.01));
}

// Survival to every pillar with the calibrated levels, on a fresh solver.
void expect_fit(const std::shared_ptr<parameter_black_karasinski>& p, const survival_curve& curve,
                const calibration_black_karasinski_settings& s, double tolerance, const std::string& what) {
  solver_setup check(p, s);
  const auto& d = p->levels_parameter_dates();
  for (std::size_t k = 1; k < d.size(); ++k)
    EXPECT_LE(std::fabs(check.survival(k) - curve.survival_probability(valuation, d[k])), tolerance)
        << what << " pillar " << k;
  EXPECT_EQ(p->levels_parameter()[19], p->levels_parameter()[18]) << what;
}

TEST(calibration_credit_black_karasinski, twenty_pillars_from_10bp_to_2000bp) {
  for (double hazard : {0.001, 0.02, 0.2}) {
    for (bool backward : {true, false}) {
      const auto s = solver_settings(backward, backward ? 201 : 201, 7.0, 6.0, 1e-10);
      auto p = start();
      const auto curve = market(hazard);
      calibration_credit_black_karasinski(valuation, curve, s, nullptr, matrix<double>()).calibrate_level(*p);
      expect_fit(p, *curve, *s, 1e-10, std::to_string(hazard) + (backward ? " backward" : " forward"));
    }
  }
}

TEST(calibration_credit_black_karasinski, matched_dates_are_left_alone_and_fixed_brackets_also_fit) {
  const auto curve = market(0.02);
  auto p = start();
  calibration_credit_black_karasinski(valuation, curve, solver_settings(true, 201, 7.0, 6.0, 1e-12), nullptr, {})
      .calibrate_level(*p);
  // A looser tolerance finds every pillar matched: nothing moves, not even the bracket.
  auto q = std::make_shared<parameter_black_karasinski>(hjm_part(0.1, 0.6, 0.8), p->levels_parameter(), pillars(), 7, 12);
  calibration_credit_black_karasinski(valuation, curve, solver_settings(true, 201, 7.0, 6.0, 1e-9), nullptr, {})
      .calibrate_level(*q);
  EXPECT_EQ(q->levels_parameter(), p->levels_parameter());
  // update_bounds false: the settings' bracket serves every date.
  auto r = start();
  const auto fixed = solver_settings(true, 201, 7.0, 6.0, 1e-10, -12.0, 2.0, false);
  calibration_credit_black_karasinski(valuation, curve, fixed, nullptr, {}).calibrate_level(*r);
  expect_fit(r, *curve, *fixed, 1e-10, "fixed bracket");
}

TEST(calibration_credit_black_karasinski, failure_texts_and_the_debug_log) {
  const auto curve = market(0.02);
  auto p = start();
  const auto before = p->levels_parameter();
  // No root in [-30, -25]: the model cannot default enough.
  const auto narrow = solver_settings(true, 101, 14.0, 6.0, 1e-10, -30.0, -25.0, false);
  try {
    calibration_credit_black_karasinski(valuation, curve, narrow, nullptr, {}).calibrate_level(*p);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), " black karasinski model not calibrated.");
    EXPECT_EQ(e.location().function, "calibrate_level");
  }
  EXPECT_EQ(p->levels_parameter(), before);

  const auto rates = hjm_testing_rates();
  const auto adjusted = solver_settings(true, 101, 14.0, 6.0, 1e-10, -12.0, 2.0, true, true);
  EXPECT_EQ(error_text([&] {
              calibration_credit_black_karasinski(valuation, curve, adjusted, rates, matrix<double>(1, 2, 0.3))
                  .calibrate_level(*p);
            }),
            "Expected ir_parameters_->number_of_factors() == correlation_credit_ir_.size() to be true, but got false.  "
            "correlation matrix has the wron size: expected1 given2");
  // Without use_adjustement the correlation is not looked at.
  const auto plain = solver_settings(true, 101, 14.0, 6.0, 1e-10);
  EXPECT_EQ(error_text([&] {
              calibration_credit_black_karasinski(valuation, curve, plain, rates, matrix<double>(1, 2, 0.3))
                  .calibrate_level(*p);
            }),
            "no error");

  static std::vector<std::string>* lines;
  std::vector<std::string> captured;
  lines = &captured;
  logger::SetSink([](int, const std::string& line) { lines->push_back(line); });
  const auto loud = std::make_shared<const calibration_black_karasinski_settings>(
      tenor("3M"), 0.0, true, false, 101, 6.0, -12.0, 2.0, 1e-10, true, 14.0, 1, 1.0, true);
  auto q = start();
  calibration_credit_black_karasinski(valuation, curve, loud, nullptr, {}).calibrate_level(*q);
  logger::SetSink(nullptr);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_NE(captured[0].find("Calibrated credit levels: [" ), std::string::npos) << captured[0];
}

TEST(calibration_credit_black_karasinski, drift_adjustment_is_the_forward_measure_closed_form) {
  // One-factor Gaussian rate (kappa_r, sigma_r), credit (kappa_c, sigma_c), correlation rho:
  // shift(t) = -rho int_0^t sigma_c e^{kappa_c s} sigma_r e^{kappa_r s} (I(T) - I(s)) ds,
  // I(s) = (1 - e^{-kappa_r s}) / kappa_r, integrated here by Simpson's rule on days.
  const double kr = 0.05, sr = 0.01, kc = 0.2, sc = 0.7, rho = 0.4;
  const auto rates = std::make_shared<const parameter_markovian_hjm>(
      matrix<double>(1, 1, kr), matrix<double>(1, 1, sr), matrix<double>(1, 1, 1.0), std::vector<datetime>{valuation},
      std::vector<datetime>{valuation}, nullptr, parameter_markovian_hjm_type::mean_reversion);
  auto p = with_levels(hjm_part(kc, sc, 1.0), pillars(), std::vector<double>(20, 0.01));
  const auto s = solver_settings(true, 101, 7.0, 6.0, 1e-10, -12.0, 2.0, true, true);
  solver_setup setup(p, *s);
  const auto& grid = setup.solver->time_grid();
  std::vector<double> credit_sv(grid.size());
  for (std::size_t i = 0; i < grid.size(); ++i) credit_sv[i] = setup.model->hjm_model().incremental_volatility_sv()(i, 0);
  const calibration_credit_black_karasinski c(valuation, market(0.02), s, rates, matrix<double>(1, 1, rho));
  const datetime T(2036, 1, 5);
  const auto shifts = c.drift_adjustment(grid, credit_sv, T);
  const double tT = (T.value() - valuation.value()) / 365.0, IT = -std::expm1(-kr * tT) / kr;
  const auto integrand = [&](double u) { return sc * sr * std::exp((kc + kr) * u) * (IT + std::expm1(-kr * u) / kr); };
  for (std::size_t i = 0; i < grid.size(); i += 50) {
    const double t = (grid[i].value() - valuation.value()) / 365.0;
    const int n = 2 * std::max(1, int(t * 365));
    double sum = integrand(0) + integrand(t);
    for (int j = 1; j < n; ++j) sum += (j % 2 ? 4 : 2) * integrand(t * j / n);
    const double expected = -rho * sum * t / (3 * n);
    // Second order in the weekly step, ((kappa_c + kappa_r) dt)^2 ~ 2e-5 relative, on shifts
    // that pass through 0 after T (x units: they grow like exp(kappa_c t)).
    EXPECT_NEAR(shifts[i], expected, 1e-5 * std::fabs(expected) + 5e-6) << grid[i].to_string();
  }
  // Without use_adjustement every shift is 0.
  const calibration_credit_black_karasinski off(valuation, market(0.02), solver_settings(true, 101, 7.0), rates,
                                                matrix<double>(1, 1, rho));
  for (double v : off.drift_adjustment(grid, credit_sv, T)) ASSERT_EQ(v, 0.0);
}

}  // namespace
}  // namespace tarvex
