#pragma once
#include <memory>
#include <vector>

#include "Instrument/interest_rate_swap.h"
#include "Market/discount_curve.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"

namespace tarvex {

// A European option on an interest_rate_swap, exercised at the swap's start, quoted at
// one or several strikes (a smile slice): a payer (call on the swap rate) or receiver.
class instrument_ir_swaption {
 public:
  // Builds the swap (expiry to maturity, both legs on `frequency`). The strikes are
  // absolute rates, or offsets from today's swap rate when strikes_are_offsets is
  // true; strikes() always holds the absolute ones. Expects at least one finite strike.
  instrument_ir_swaption(bool is_call, const std::shared_ptr<const discount_curve>& curve, const datetime& expiry,
                         const datetime& maturity, const tenor& frequency,
                         const std::shared_ptr<const day_count_convention>& day_count, const std::vector<double>& strikes,
                         bool strikes_are_offsets);

  const std::shared_ptr<const interest_rate_swap>& swap() const noexcept { return swap_; }
  const std::vector<double>& strikes() const noexcept { return strikes_; }
  // True for a payer swaption.
  bool is_call() const noexcept { return is_call_; }
  // +1 for a payer, -1 for a receiver: the sign argument of the implied volatilities.
  double sign() const noexcept { return is_call_ ? 1.0 : -1.0; }

 private:
  bool is_call_;
  std::shared_ptr<const interest_rate_swap> swap_;
  std::vector<double> strikes_;
};

}  // namespace tarvex
