#pragma once
#include <memory>
#include <vector>

#include "Util/datetime.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class calibration_black_karasinski_settings;
class discount_curve;
class parameter_black_karasinski;
class parameter_markovian_hjm;
class survival_curve;

// Bootstraps the levels of a Black–Karasinski parameter set so that the model's
// survival probabilities on the level dates reproduce a market survival curve, one
// date at a time with black_karasinski_pde_solver and Brent's method: the level that
// governs the interval before each date is solved for, the levels before it stay.
//
// Rate adjustment: with rate parameters and use_adjustement, the market probability
// is read as E^T[exp(-int lambda)] under the T-forward measure of each pillar T, under
// which the credit Brownian gains the drift -rho sigma_P(s, T). The credit state then
// carries the shift
//   shift(t) = -sum_f rho_f int_0^t c(s) S_f(s) (I_f(T) - I_f(s)) ds,
// c and S_f the instantaneous volatilities of the credit and rate HJM states
// (undecayed) and I_f the rate model's integrated decay; on each grid step the
// integrand is taken as the product of the two models' step standard deviations times
// the mean of I_f(T) - I_f at the step's ends (second order in the step).
class calibration_credit_black_karasinski {
 public:
  // Nothing is validated here; the rate parameters may be null.
  calibration_credit_black_karasinski(const datetime& valuation_date, const std::shared_ptr<const survival_curve>& curve,
                                      const std::shared_ptr<const calibration_black_karasinski_settings>& settings,
                                      const std::shared_ptr<const parameter_markovian_hjm>& ir_parameters,
                                      const matrix<double>& correlation);

  // Overwrites the levels of `p` in place (through its state parameters). Expects the
  // first level date on or before the valuation date and at least one after it; the
  // last level repeats the one before. On failure the levels solved so far stay written.
  void calibrate_level(parameter_black_karasinski& p) const;

  // The shift of the credit state on each date of `grid` for the pillar T (zeros
  // without rate parameters or with use_adjustement false); `credit_sv` holds the
  // credit model's step standard deviation per grid date.
  std::vector<double> drift_adjustment(const std::vector<datetime>& grid, const std::vector<double>& credit_sv,
                                       const datetime& T) const;

  // The rate-level extension: levels of a Black–Karasinski short-rate model that
  // reproduce today's discount curve, by the same bootstrap with today's discount
  // factors in place of survival probabilities (no rate adjustment).
  static void calibrate_discount_level(const datetime& valuation_date,
                                       const std::shared_ptr<const discount_curve>& curve,
                                       const std::shared_ptr<const calibration_black_karasinski_settings>& settings,
                                       parameter_black_karasinski& p);

  const std::shared_ptr<const survival_curve>& curve() const noexcept { return survival_curve_; }
  const std::shared_ptr<const calibration_black_karasinski_settings>& settings() const noexcept { return settings_; }

 private:
  datetime valuation_date_;
  std::shared_ptr<const survival_curve> survival_curve_;
  std::shared_ptr<const calibration_black_karasinski_settings> settings_;
  std::shared_ptr<const parameter_markovian_hjm> ir_parameters_;
  matrix<double> correlation_credit_ir_;
};

}  // namespace tarvex
