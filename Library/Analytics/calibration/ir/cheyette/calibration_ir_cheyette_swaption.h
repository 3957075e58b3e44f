#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/models/model_cheyette.h"
#include "Instrument/instrument_ir_swaption.h"
#include "Market/discount_curve.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"

namespace tarvex {

// One target of the Cheyette calibration: a European swaption quoted at several
// strikes (a smile slice), priced under a one-factor model_cheyette by mixing
// conditional prices over the law of the time-changed Brownian motion that drives the
// frozen-skew state (the derivation is in model_cheyette.h, at smile_skew). Given the
// node a = W_B the integrated variance is inverse Gaussian, the exercise set is one side
// of a root A* in it, and every cash flow integrates in closed form.
class calibration_ir_cheyette_swaption {
 public:
  // Arguments as instrument_ir_swaption's: payer flag, curve, expiry, maturity,
  // frequency, day count, strikes, strikes given as offsets from the forward.
  calibration_ir_cheyette_swaption(bool is_call, const std::shared_ptr<const discount_curve>& curve,
                                   const datetime& expiry, const datetime& maturity, const tenor& frequency,
                                   const std::shared_ptr<const day_count_convention>& day_count,
                                   const std::vector<double>& strikes, bool strikes_are_offsets);

  const std::shared_ptr<const instrument_ir_swaption>& swaptions() const noexcept { return swaption_; }
  datetime expiry() const { return swaption_->swap()->expiry(); }
  // Today's forward swap rate.
  double swap_rate() const { return swaption_->swap()->swap_rate(); }

  // Appends one model normal volatility per strike, in strike order. t is the model's
  // variance() at expiry() (the time-changed clock B); the expiry must be one of the
  // model's dates. At t = 0 (no skew) the price is the HJM instrument's. The strikes
  // share the nodes (panels between all their kinks), so the conditional laws, discount
  // shifts and Laplace transforms are computed once per smile.
  void values(std::vector<double>& out, const std::shared_ptr<const model_cheyette>& model, double t) const;
  // The conditional price at one node: node a = W_B, time B, flows as built by flows(),
  // payer when is_call. root (the boundary A*) is the starting point and receives the
  // root; a search that does not converge warns "swap root finder did not converge!".
  double value(double& root, double node, double time, const matrix<double>& flows, bool is_call,
               std::uint64_t max_iterations, double tolerance) const;
  // Closed-form volatilities: the frozen model's swap rate linearised in the state is a
  // displaced lognormal, S = S0 + (S'/rho)(z - 1) with z = e^{W_B - B/2}, priced by
  // Black-Scholes (Bachelier at zero skew). `dates` are the model's caller dates.
  void value_approxitmation(std::vector<double>& out, const std::shared_ptr<const model_cheyette>& model,
                            const std::vector<datetime>& dates) const;

  // Per swap date i (all_dates()): (c_i P0_i, g_i), the cash-flow weight c_i = dV/dP_i
  // of the payer value at `strike` on today's discount factors (exact without a payment
  // lag, where V is linear in P; the lag's convexity is linearised), and g_i = (I(T_i) -
  // I(T)) / rho, the integrated decays rescaled by the effective skew rho.
  matrix<double> flows(double strike, const model_cheyette& model, double rho) const;

 private:
  double hjm_price(double strike, const model_cheyette& model) const;

  std::shared_ptr<const instrument_ir_swaption> swaption_;
};

}  // namespace tarvex
