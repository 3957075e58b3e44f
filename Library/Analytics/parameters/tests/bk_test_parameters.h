#pragma once
// Black–Karasinski parameter sets shared by the model, solver, calibration and
// diffusion tests.
#include <cmath>
#include <memory>
#include <vector>

#include "Analytics/parameters/parameter_black_karasinski.h"

namespace tarvex::bk_testing {

inline const datetime valuation(2026, 1, 5);

// One-factor HJM part: mean reversion kappa, volatility sigma until 2031-01-05 and
// sigma * vol_ratio after it.
inline std::shared_ptr<parameter_markovian_hjm> hjm_part(double kappa, double sigma, double vol_ratio = 1.0) {
  matrix<double> k(1, 1, kappa), s(2, 1, sigma), rho(1, 1, 1.0);
  s(1, 0) = sigma * vol_ratio;
  return std::make_shared<parameter_markovian_hjm>(k, s, rho, std::vector<datetime>{valuation},
                                                   std::vector<datetime>{datetime(2031, 1, 5), datetime(2036, 1, 5)},
                                                   nullptr, parameter_markovian_hjm_type::mean_reversion);
}

// Levels ln(hazard) on the given dates (the first on the valuation date).
inline std::shared_ptr<parameter_black_karasinski> with_levels(const std::shared_ptr<parameter_markovian_hjm>& hjm,
                                                               const std::vector<datetime>& dates,
                                                               const std::vector<double>& hazards,
                                                               short step_days = 7, short roots = 12) {
  std::vector<double> levels;
  for (double h : hazards) levels.push_back(std::log(h));
  return std::make_shared<parameter_black_karasinski>(hjm, levels, dates, step_days, roots);
}

// `count` yearly dates from the valuation date.
inline std::vector<datetime> yearly(std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i) d.emplace_back(valuation.year() + int(i), 1, 5);
  return d;
}

}  // namespace tarvex::bk_testing
