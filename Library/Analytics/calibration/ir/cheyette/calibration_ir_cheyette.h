#pragma once
#include <memory>
#include <vector>

#include "Analytics/calibration/calibration_cheyette_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette_report.h"
#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette_swaption.h"
#include "Analytics/parameters/parameter_cheyette.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Market/discount_curve.h"
#include "Market/ir_volatility_surface.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"

namespace tarvex {

// Fits a one-factor Cheyette parameter set (the decays and volatilities of a given HJM
// set plus a dated skew) to swaption smiles by Levenberg-Marquardt on normal-vol
// residuals, with finite-difference Jacobians. The bounded parametrisation is the HJM
// calibration's (calibration_ir_hjm_maps) plus the same map for the skews.
class calibration_ir_cheyette {
 public:
  // Targets, each a payer smile with its own row of strike offsets (from the forward):
  // one caplet per expiry, then the co-terminal swaptions (an expiry not before the
  // co-terminal date is skipped). Row k of strikes() serves target k; the table must
  // have a row per target.
  calibration_ir_cheyette(const datetime& valuation_date, const std::shared_ptr<const discount_curve>& curve,
                          const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                          const std::shared_ptr<const day_count_convention>& day_count);

  const std::vector<std::shared_ptr<const calibration_ir_cheyette_swaption>>& swaptions() const noexcept {
    return swaptions_;
  }

  // The fitted Cheyette set. `hjm` (one factor, every target expiry among its volatility
  // dates) supplies the dates and the starting decays and volatilities; like the skew,
  // they are fitted, and the fitted values are written into `hjm` itself, which the
  // returned set shares. Starting skews come from each smile's end-to-end slope.
  std::shared_ptr<const parameter_cheyette> calibrate(const std::shared_ptr<const ir_volatility_surface>& surface,
                                                      const std::shared_ptr<const calibration_cheyette_settings>& settings,
                                                      const std::shared_ptr<const parameter_markovian_hjm>& hjm) const;
  // The same, and fills `report`.
  std::shared_ptr<const parameter_cheyette> calibrate(const std::shared_ptr<const ir_volatility_surface>& surface,
                                                      const std::shared_ptr<const calibration_cheyette_settings>& settings,
                                                      const std::shared_ptr<const parameter_markovian_hjm>& hjm,
                                                      calibration_ir_cheyette_report& report) const;

 private:
  datetime valuation_date_;
  std::shared_ptr<const day_count_convention> day_count_;
  std::vector<std::shared_ptr<const calibration_ir_cheyette_swaption>> swaptions_;
};

}  // namespace tarvex
