#pragma once
#include <memory>
#include <vector>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_report.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Market/discount_curve.h"
#include "Market/ir_volatility_surface.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class calibration_ir_hjm_problem;

// Fits a Markovian HJM parameter set to swaption and caplet normal volatilities by
// Levenberg-Marquardt. The targets and the two date grids of the calibrated set (the
// distinct target expiries become the volatility dates, the distinct target ends the
// decay dates) are fixed at construction; every calibrate call works on its own
// parameter set and model, so one calibrator serves concurrent calls.
class calibration_ir_hjm {
 public:
  // Targets, in this order: one caplet per expiry, the co-terminal swaptions (an expiry
  // not before the co-terminal date is skipped), then the expiry x tenor grid with the
  // tenor as the outer loop; each kind only when the configuration includes it.
  calibration_ir_hjm(const datetime& valuation_date, const std::shared_ptr<const discount_curve>& curve,
                     const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                     const std::shared_ptr<const day_count_convention>& day_count);

  // The targets in construction order.
  const std::vector<std::shared_ptr<const calibration_ir_hjm_swaption>>& swaptions() const noexcept {
    return swaptions_;
  }
  const datetime& valuation_date() const noexcept { return valuation_date_; }
  const std::shared_ptr<const day_count_convention>& day_count() const noexcept { return day_count_; }
  // Distinct target expiries, ascending: the volatility dates of the calibrated set.
  const std::vector<datetime>& expiry_dates() const noexcept { return expiry_dates_; }
  // Distinct target ends, ascending: the decay dates of the calibrated set.
  const std::vector<datetime>& maturity_dates() const noexcept { return maturity_dates_; }

  // The parameter set whose model volatilities best match the surface's at the given
  // strikes (empty: every target at the money; otherwise at least one per target, extra
  // ones ignored). `correlation` is the factor correlation (fitted too when the
  // settings say so), positive definite, and fixes the factor count; the settings'
  // bounds are two different finite numbers each; `initial`, when set, supplies the
  // starting decays and volatilities: one row per date of the grids below, one column
  // per factor, every entry strictly inside its bounds. A fit that ends on non-finite
  // parameters is an error; a poor one is not (see the report).
  std::shared_ptr<const parameter_markovian_hjm> calibrate(
      const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
      const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
      const std::shared_ptr<const parameter_markovian_hjm>& initial) const;
  // The same, and fills `report` with how this call ended. The report is the caller's
  // and is written by this call alone, so concurrent calls on one calibrator stay
  // independent (the calibrator keeps no "last report").
  std::shared_ptr<const parameter_markovian_hjm> calibrate(
      const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
      const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
      const std::shared_ptr<const parameter_markovian_hjm>& initial, calibration_ir_hjm_report& report) const;

  // Not provided: throws NotImplementedError. Kept so callers of the experimental CMS
  // spread pricer fail loudly rather than link against a guess.
  static double cms_spread_pricing_experimental(const datetime& start, const datetime& end,
                                                const std::shared_ptr<const parameter_markovian_hjm>& parameters,
                                                const std::shared_ptr<const discount_curve>& curve, bool flag);

 private:
  // Both calibrate overloads; `fit_report` asks for the report's targets and bounds.
  std::shared_ptr<const parameter_markovian_hjm> calibrate(
      const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
      const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
      const std::shared_ptr<const parameter_markovian_hjm>& initial, calibration_ir_hjm_report& report,
      bool fit_report) const;
  void fill_report(const calibration_ir_hjm_problem& problem, calibration_ir_hjm_report& report) const;

  datetime valuation_date_;
  std::shared_ptr<const day_count_convention> day_count_;
  std::vector<std::shared_ptr<const calibration_ir_hjm_swaption>> swaptions_;
  std::vector<datetime> expiry_dates_;
  std::vector<datetime> maturity_dates_;
};

}  // namespace tarvex
