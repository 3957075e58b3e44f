#pragma once
#include <cstdint>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Analytics/parameters/parameter_markovian_hjm_type.h"
#include "Market/market_data.h"

namespace tarvex {

// Optimiser and parametrisation settings of the Cheyette calibration. Immutable;
// nothing is validated here (the calibration reads the first two entries of each
// bounds vector, in either order).
class calibration_cheyette_settings : public config_data {
  TARVEX_SERIALIZABLE(calibration_cheyette_settings)

 public:
  calibration_cheyette_settings(const std::vector<double>& volatility_bounds, const std::vector<double>& decay_bounds,
                                const std::vector<double>& skew_bounds, parameter_markovian_hjm_type type, bool debug,
                                int max_iterations, double tolerance);

  // Two numbers bounding the volatility unknowns.
  const std::vector<double>& volatility_bounds() const noexcept { return volatility_bounds_; }
  // Two numbers bounding the decay unknowns.
  const std::vector<double>& decay_bounds() const noexcept { return decay_bounds_; }
  // Two numbers bounding the skew unknowns.
  const std::vector<double>& skew_bounds() const noexcept { return skew_bounds_; }
  // Parametrisation of the underlying HJM parameters.
  parameter_markovian_hjm_type type() const noexcept { return type_; }
  // Convergence tolerance of the optimiser.
  double tolerance() const noexcept { return tolerance_; }
  // Print the optimiser report.
  bool debug() const noexcept { return debug_; }
  // Iteration cap of the optimiser.
  int max_iterations() const noexcept { return max_iterations_; }

 private:
  calibration_cheyette_settings() = default;
  void initialize() {}

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("volatility_bounds", self.volatility_bounds_);
    w("decay_bounds", self.decay_bounds_);
    w("skew_bounds", self.skew_bounds_);
    w("type", self.type_);
    w("tolerance", self.tolerance_);
    w("debug", self.debug_);
    w("max_iterations", self.max_iterations_);
  }

  std::vector<double> volatility_bounds_;
  std::vector<double> decay_bounds_;
  std::vector<double> skew_bounds_;
  parameter_markovian_hjm_type type_{};
  double tolerance_ = 0.0;
  bool debug_ = false;
  std::int32_t max_iterations_ = 0;
};

}  // namespace tarvex
