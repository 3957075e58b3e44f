#pragma once
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Market/market_data.h"
#include "Util/tenor.h"

namespace tarvex {

// Which market instruments an interest-rate calibration builds as targets: one caplet
// per expiry, co-terminal swaptions, an expiry x swap-tenor swaption grid, and the
// strike lists of the Cheyette targets. Tenors are measured from the valuation date.
// Immutable except for the strike lists, which may be replaced before the object is
// handed to a calibrator.
class calibration_ir_targets_configuration : public config_data {
  TARVEX_SERIALIZABLE(calibration_ir_targets_configuration)

 public:
  // The three vectors are moved in; nothing is validated.
  calibration_ir_targets_configuration(tenor frequency, std::vector<tenor>&& expiries, tenor coterminal,
                                       std::vector<tenor>&& cms_tenors, std::vector<std::vector<double>>&& strikes,
                                       bool include_caplets, bool include_coterminal, bool include_cms);

  // Payment frequency of every target swap; also the caplet length.
  const tenor& frequency() const noexcept { return frequency_; }
  // Option expiries.
  const std::vector<tenor>& expiries() const noexcept { return expiries_; }
  // Common final maturity of the co-terminal swaptions.
  const tenor& coterminal() const noexcept { return coterminal_; }
  // Swap tenors of the expiry x tenor swaption grid (HJM only).
  const std::vector<tenor>& cms_tenors() const noexcept { return cms_tenors_; }
  // Strike list per target (Cheyette only).
  const std::vector<std::vector<double>>& strikes() const noexcept { return strikes_; }
  // Build one caplet per expiry.
  bool include_caplets() const noexcept { return include_caplets_; }
  // Build the co-terminal swaptions.
  bool include_coterminal() const noexcept { return include_coterminal_; }
  // Build the expiry x cms tenor grid (HJM only).
  bool include_cms() const noexcept { return include_cms_; }

  // Replaces the strike lists; a no-op when given strikes() itself.
  void strikes(const std::vector<std::vector<double>>& strikes);

 private:
  calibration_ir_targets_configuration() = default;
  void initialize() {}

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("frequency", self.frequency_);
    w("expiries", self.expiries_);
    w("coterminal", self.coterminal_);
    w("cms_tenors", self.cms_tenors_);
    w("strikes", self.strikes_);
    w("include_caplets", self.include_caplets_);
    w("include_coterminal", self.include_coterminal_);
    w("include_cms", self.include_cms_);
  }

  tenor frequency_;
  std::vector<tenor> expiries_;
  tenor coterminal_;
  std::vector<tenor> cms_tenors_;
  std::vector<std::vector<double>> strikes_;
  bool include_caplets_ = false;
  bool include_coterminal_ = false;
  bool include_cms_ = false;
};

}  // namespace tarvex
