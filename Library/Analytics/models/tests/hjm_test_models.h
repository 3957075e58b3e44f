#pragma once
// Parameter sets and grids shared by the Markovian HJM model tests.
#include <memory>
#include <vector>

#include "Analytics/parameters/parameter_markovian_hjm.h"

namespace tarvex::hjm_testing {

inline const datetime valuation(2026, 1, 5);

// `count` dates every `months` months from the valuation date (the valuation date included).
inline std::vector<datetime> monthly_dates(std::size_t count, int months, std::size_t first = 0) {
  std::vector<datetime> d;
  for (std::size_t i = first; i < first + count; ++i) {
    const int total = static_cast<int>(i) * months;
    d.emplace_back(valuation.year() + (valuation.month() - 1 + total) / 12, (valuation.month() - 1 + total) % 12 + 1,
                   valuation.day());
  }
  return d;
}

inline matrix<double> uniform_correlation(std::size_t n, double r) {
  matrix<double> c(n, n, r);
  for (std::size_t i = 0; i < n; ++i) c(i, i) = 1.0;
  return c;
}

inline std::shared_ptr<const parameter_markovian_hjm> constant_parameters(
    const std::vector<double>& kappa, const std::vector<double>& sigma, const matrix<double>& rho,
    parameter_markovian_hjm_type type = parameter_markovian_hjm_type::mean_reversion) {
  const std::size_t n = kappa.size();
  matrix<double> k(1, n), s(1, n);
  for (std::size_t f = 0; f < n; ++f) {
    k(0, f) = kappa[f];
    s(0, f) = sigma[f];
  }
  return std::make_shared<const parameter_markovian_hjm>(k, s, rho, std::vector<datetime>{valuation},
                                                         std::vector<datetime>{valuation}, nullptr, type);
}

}  // namespace tarvex::hjm_testing
