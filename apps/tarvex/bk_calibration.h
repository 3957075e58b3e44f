#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Util/datetime.h"
#include "Vectorization/matrix.h"

namespace tarvex {
class calibration_black_karasinski_settings;
class discount_curve;
class parameter_black_karasinski;
class parameter_markovian_hjm;
class survival_curve;
}  // namespace tarvex

namespace tarvex::app {

// A Black–Karasinski settings file (`calibrate bk --settings`): the model's constant
// mean reversion and volatility, its conditional-price grid and the bootstrap's solver.
struct bk_settings {
  double mean_reversion, volatility;
  short time_step_in_days, number_of_roots;
  std::shared_ptr<const calibration_black_karasinski_settings> bootstrap;
};

// Reads and checks a settings file; `adjust` turns on the rate drift adjustment.
bk_settings read_bk_settings(const std::string& file, bool adjust);

// One-factor levels on the valuation date and each pillar, bootstrapped to `credit`
// (with the rate adjustment when `rates` is given, `rho` its credit-rate correlation
// row) or, when `credit` is null, to `discount`. Library errors propagate.
std::shared_ptr<parameter_black_karasinski> bootstrap_bk_levels(const bk_settings& s, const datetime& valuation,
                                                                const std::vector<datetime>& pillars,
                                                                const std::shared_ptr<const survival_curve>& credit,
                                                                const std::shared_ptr<const discount_curve>& discount,
                                                                const std::shared_ptr<const parameter_markovian_hjm>& rates = nullptr,
                                                                const matrix<double>& rho = {});

// `tarvex calibrate bk …` (the arguments after "bk"): bootstraps Black–Karasinski
// levels to the market file's credit curve or discount curve and writes the parameters.
int run_calibrate_bk(const std::vector<std::string>& args);

}  // namespace tarvex::app
