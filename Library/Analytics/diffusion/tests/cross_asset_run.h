#pragma once
// A two-currency run shared by the cross-asset tests and the simulation benchmark:
// domestic HJM (2 factors), foreign HJM (1), FX domestic per foreign (1), a domestic
// equity (1) and a credit entity (HJM or extended CIR, 1), in that order (the FX and
// equity objects read the simulated curves at positions 0 and 1).
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "Analytics/change_of_measure/quanto_change_of_measure.h"
#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/credit/diffusion_credit_extended_cir.h"
#include "Analytics/diffusion/credit/diffusion_credit_markovian_hjm.h"
#include "Analytics/diffusion/equity/diffusion_equity_lognormal.h"
#include "Analytics/diffusion/fx/diffusion_fx_lognormal.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Analytics/parameters/parameter_extended_cir.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Market/fx_spot.h"
#include "Market/interpolated_discount_curve.h"
#include "Market/interpolated_survival_curve.h"
#include "Random/random_type.h"

namespace tarvex::cross_asset_testing {

using hjm_testing::valuation;

enum class credit_model { hjm, cir };

struct run_setup {
  std::vector<datetime> dates;
  std::shared_ptr<const discount_curve> domestic, foreign;
  std::shared_ptr<const survival_curve> credit_curve;
  double equity_spot = 80.0, fx_spot = 1.25;
  std::vector<std::shared_ptr<const diffusion>> diffusions;
  matrix<double> correlation;
  std::vector<std::shared_ptr<const change_of_measure>> measures;
};

inline std::shared_ptr<const parameter_lognormal> lognormal_parameters(double sigma) {
  return std::make_shared<const parameter_lognormal>(matrix<double>(1, 1, sigma), matrix<double>(1, 1, 1.0),
                                                     std::vector<datetime>{valuation}, nullptr);
}

inline std::shared_ptr<const parameter_extended_cir> cir_parameters(double kappa, double theta, double sigma,
                                                                    double x0, double shift = 0.0) {
  const std::vector<datetime> d{valuation};
  return std::make_shared<const parameter_extended_cir>(matrix<double>(1, 1, kappa), matrix<double>(1, 1, sigma),
                                                        matrix<double>(1, 1, shift), matrix<double>(1, 1, 1.0), d, d, d,
                                                        nullptr, matrix<double>(1, 1, theta), std::vector<double>{x0});
}

// Factors: 0, 1 domestic rates; 2 foreign rate; 3 FX; 4 equity; 5 credit.
// rho_foreign_fx drives the quanto effect.
inline matrix<double> five_diffusion_correlation(double rho_foreign_fx) {
  matrix<double> c = hjm_testing::uniform_correlation(6, 0.0);
  const auto set = [&](std::size_t i, std::size_t j, double v) { c(i, j) = c(j, i) = v; };
  set(0, 1, 0.3);
  set(0, 2, 0.4);
  set(2, 3, rho_foreign_fx);
  set(0, 3, 0.2);
  set(0, 4, 0.25);
  set(3, 4, 0.3);
  set(4, 5, -0.2);
  set(0, 5, 0.1);
  return c;
}

// The run on `dates`; with `quanto` the foreign rates carry the correction that puts
// them under the domestic measure.
inline run_setup five_diffusions(const std::vector<datetime>& dates, credit_model credit, bool quanto,
                                 double rho_foreign_fx = -0.5, double foreign_sigma = 0.012, double fx_sigma = 0.15) {
  run_setup s;
  s.dates = dates;
  s.domestic = std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.025, 0.032, 0.03});
  s.foreign = std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2046, 1, 5)}, std::vector<double>{0.01, 0.018});
  s.credit_curve = std::make_shared<const interpolated_survival_curve>(
      valuation, std::vector<datetime>{datetime(2028, 1, 5), datetime(2046, 1, 5)}, std::vector<double>{0.015, 0.025});
  s.correlation = five_diffusion_correlation(rho_foreign_fx);
  const auto domestic_hjm =
      hjm_testing::constant_parameters({0.03, 0.5}, {0.01, 0.008}, hjm_testing::uniform_correlation(2, 0.3));
  const auto foreign_hjm =
      hjm_testing::constant_parameters({0.05}, {foreign_sigma}, hjm_testing::uniform_correlation(1, 0.0));
  s.diffusions.push_back(std::make_shared<const diffusion_ir_markovian_hjm>(dates, s.domestic, domestic_hjm));
  s.diffusions.push_back(std::make_shared<const diffusion_ir_markovian_hjm>(dates, s.foreign, foreign_hjm));
  s.diffusions.push_back(std::make_shared<const diffusion_fx_lognormal>(
      dates, std::make_shared<const fx_spot>(valuation, s.fx_spot), s.domestic, s.foreign,
      lognormal_parameters(fx_sigma)));
  s.diffusions.push_back(
      std::make_shared<const diffusion_equity_lognormal>(dates, s.equity_spot, s.domestic, lognormal_parameters(0.25)));
  if (credit == credit_model::hjm)
    s.diffusions.push_back(std::make_shared<const diffusion_credit_markovian_hjm>(
        dates, s.credit_curve, hjm_testing::constant_parameters({0.1}, {0.008}, hjm_testing::uniform_correlation(1, 0.0))));
  else
    s.diffusions.push_back(std::make_shared<const diffusion_credit_extended_cir>(dates, s.credit_curve,
                                                                                 cir_parameters(0.4, 0.02, 0.1, 0.015)));
  s.measures = quanto ? domestic_measure_changes(s.diffusions, s.correlation, {{1, 2}})
                      : std::vector<std::shared_ptr<const change_of_measure>>(s.diffusions.size());
  return s;
}

inline std::shared_ptr<const random_config> philox_config(std::size_t paths, std::size_t dates, std::size_t brownians,
                                                          std::size_t batch = 0, std::size_t seed = 20261207) {
  return std::make_shared<const random_config>(random_type::philox, seed, paths, dates, brownians, batch, false, false,
                                               random_type::philox, device_type::cpu);
}

inline std::unique_ptr<simulation_manager> make_manager(const run_setup& s, std::size_t paths, std::size_t batch = 0) {
  auto diffusions = s.diffusions;
  auto measures = s.measures;
  return std::make_unique<simulation_manager>(std::move(diffusions), std::move(measures), s.correlation,
                                              philox_config(paths, s.dates.size(), s.correlation.rows(), batch),
                                              s.dates);
}

}  // namespace tarvex::cross_asset_testing
