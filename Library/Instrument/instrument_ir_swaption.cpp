#include "Instrument/instrument_ir_swaption.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {

instrument_ir_swaption::instrument_ir_swaption(bool is_call, const std::shared_ptr<const discount_curve>& curve,
                                               const datetime& expiry, const datetime& maturity,
                                               const tenor& frequency,
                                               const std::shared_ptr<const day_count_convention>& day_count,
                                               const std::vector<double>& strikes, bool strikes_are_offsets)
    : is_call_(is_call),
      swap_(std::make_shared<const interest_rate_swap>(curve, expiry, maturity, frequency, day_count)),
      strikes_(strikes) {
  TARVEX_CHECK(!strikes_.empty(), "swaption has no strikes");
  const double shift = strikes_are_offsets ? swap_->swap_rate() : 0.0;
  for (std::size_t i = 0; i < strikes_.size(); ++i) {
    TARVEX_CHECK(std::isfinite(strikes_[i]), "swaption strike ", i, " is ", strikes_[i]);
    strikes_[i] += shift;
  }
}

}  // namespace tarvex
