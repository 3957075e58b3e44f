#pragma once
// Shared by the instrument tests: a curve, and discount factors at a factor state
// written independently of the model library (which sits above this one).
#include <cmath>
#include <memory>
#include <vector>

#include "Market/interpolated_discount_curve.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex::instrument_testing {

inline const datetime today = datetime::from_string("2026-01-05");

inline std::shared_ptr<const discount_curve> upward_curve() {
  return std::make_shared<const interpolated_discount_curve>(
      today,
      std::vector<datetime>{datetime::from_string("2027-01-05"), datetime::from_string("2031-01-05"),
                            datetime::from_string("2046-01-05")},
      std::vector<double>{0.021, 0.028, 0.033});
}

// P_j(x) = P0_j exp(-((D_j - D_0) x + (|D_j|^2 - |D_0|^2) / 2)).
inline std::vector<double> state_dfs(const std::vector<double>& p0, const matrix<double>& d, const vector<double>& x) {
  std::vector<double> out(p0.size());
  for (std::size_t j = 0; j < p0.size(); ++j) {
    double e = 0.0;
    for (std::size_t k = 0; k < d.columns(); ++k)
      e += (d(j, k) - d(0, k)) * x[k] + 0.5 * (d(j, k) * d(j, k) - d(0, k) * d(0, k));
    out[j] = p0[j] * std::exp(-e);
  }
  return out;
}

// Loadings growing with maturity like a two-factor Gaussian model's (row 0 zero).
inline matrix<double> loadings(const std::vector<datetime>& dates, std::size_t factors) {
  matrix<double> d(dates.size(), factors);
  const double t0 = dates[0].value();
  for (std::size_t j = 0; j < dates.size(); ++j) {
    const double tau = (dates[j].value() - t0) / 365.0;
    for (std::size_t k = 0; k < factors; ++k) {
      const double kappa = 0.03 + 0.4 * k;
      d(j, k) = (0.01 - 0.004 * k) * -std::expm1(-kappa * tau) / kappa;
    }
  }
  return d;
}

}  // namespace tarvex::instrument_testing
