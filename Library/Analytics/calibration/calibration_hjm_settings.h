#pragma once
#include <cstdint>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Analytics/parameters/parameter_markovian_hjm_type.h"
#include "Market/market_data.h"

namespace tarvex {

// Optimiser and parametrisation settings of the Markovian HJM calibration. Immutable;
// nothing is validated here: the calibration refuses bounds that are not two different
// finite numbers (given in either order).
class calibration_hjm_settings : public config_data {
  TARVEX_SERIALIZABLE(calibration_hjm_settings)

 public:
  // Note the argument order differs from the member (and file) order.
  calibration_hjm_settings(std::uint64_t number_of_factors, const std::vector<double>& volatility_bounds,
                           const std::vector<double>& decay_bounds, parameter_markovian_hjm_type type, bool debug,
                           int max_iterations, bool jacobian_with_aad_flag, bool calibrate_correlation_flag,
                           double tolerance, double regularization_factor, bool regularization_flag,
                           bool calibrate_to_all_target_flag);

  // Factor count; must match the correlation handed to the calibration.
  std::uint64_t number_of_factors() const noexcept { return number_of_factors_; }
  // Two numbers bounding every volatility entry, in either order.
  const std::vector<double>& volatility_bounds() const noexcept { return volatility_bounds_; }
  // Two numbers bounding every decay entry, in either order.
  const std::vector<double>& decay_bounds() const noexcept { return decay_bounds_; }
  // Parametrisation of the calibrated parameter set.
  parameter_markovian_hjm_type type() const noexcept { return type_; }
  // Convergence tolerance of the Levenberg-Marquardt optimiser.
  double tolerance() const noexcept { return tolerance_; }
  // Weight lambda of the Tikhonov smoothness residuals lambda (q(r) - q(r - 1)), one per
  // neighbouring pair of rows and factor, in the parameters' own units (decays per year,
  // volatilities in decimal). They sit beside vol errors in hundredths of a basis point,
  // so lambda = 1e6 makes a 1 bp step between volatility rows cost as much as a 1 bp
  // miss on one target (and a 0.01 step between decay rows as much as a 100 bp miss);
  // below about 1e4 it hardly smooths, above about 1e8 the rows move as one.
  double regularization_factor() const noexcept { return regularization_factor_; }
  // Append Tikhonov smoothness residuals.
  bool regularization_flag() const noexcept { return regularization_flag_; }
  // Also fit the factor correlation.
  bool calibrate_correlation_flag() const noexcept { return calibrate_correlation_flag_; }
  // Hand the optimiser an adjoint Jacobian instead of letting it difference.
  bool jacobian_with_aad_flag() const noexcept { return jacobian_with_aad_flag_; }
  // Fit every target; otherwise only the first as many as there are unknowns.
  bool calibrate_to_all_target_flag() const noexcept { return calibrate_to_all_target_flag_; }
  // Print the optimiser report and the fit table.
  bool debug() const noexcept { return debug_; }
  // Iteration cap of the optimiser.
  int max_iterations() const noexcept { return max_iterations_; }

 private:
  calibration_hjm_settings() = default;
  void initialize() {}

  // Field order is the file format; the key "mumber_of_factors" is misspelled in every
  // file ever written, so it stays.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("mumber_of_factors", self.number_of_factors_);
    w("volatility_bounds", self.volatility_bounds_);
    w("decay_bounds", self.decay_bounds_);
    w("type", self.type_);
    w("tolerance", self.tolerance_);
    w("regularization_factor", self.regularization_factor_);
    w("regularization_flag", self.regularization_flag_);
    w("calibrate_correlation_flag", self.calibrate_correlation_flag_);
    w("jacobian_with_aad_flag", self.jacobian_with_aad_flag_);
    w("calibrate_to_all_target_flag", self.calibrate_to_all_target_flag_);
    w("debug", self.debug_);
    w("max_iterations", self.max_iterations_);
  }

  std::uint64_t number_of_factors_ = 0;
  std::vector<double> volatility_bounds_;
  std::vector<double> decay_bounds_;
  parameter_markovian_hjm_type type_{};
  double tolerance_ = 0.0;
  double regularization_factor_ = 0.0;
  bool regularization_flag_ = false;
  bool calibrate_correlation_flag_ = false;
  bool jacobian_with_aad_flag_ = false;
  bool calibrate_to_all_target_flag_ = false;
  bool debug_ = false;
  std::int32_t max_iterations_ = 0;
};

}  // namespace tarvex
