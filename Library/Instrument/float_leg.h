#pragma once
#include <cstddef>
#include <vector>

#include "Util/datetime.h"

namespace tarvex {

// The floating leg of a swap. Coupon i pays, at pay_dates[i],
//   dcf(i) * (P(s_i, e_i)^-1 - 1),
// the index's simple return over its period [s_i, e_i] scaled by the coupon weight
// dcf(i) = accrual(i) / index accrual. The index period is the coupon's own period
// here, so dcf(i) is exactly 1 and the coupon is accrual(i) times the forward rate:
// pricing formulas can then weight bond prices by dcf(i) without dividing by accruals,
// and a leg whose coupon accrues over a different period than its index would only
// change the weight.
class float_leg {
 public:
  // No periods.
  float_leg() = default;
  // One entry per period in each vector; accruals are the periods' year fractions.
  float_leg(std::vector<datetime> start_dates, std::vector<datetime> end_dates, std::vector<datetime> pay_dates,
            std::vector<double> accruals);

  // Number of coupons.
  std::size_t size() const noexcept { return accruals_.size(); }
  // Weight of coupon i on the index return P(s_i)/P(e_i) - 1 (1 for this leg).
  double dcf(std::size_t i) const { return weights_[i]; }
  // Accrual year fraction of period i.
  double accrual(std::size_t i) const { return accruals_[i]; }
  const std::vector<datetime>& start_dates() const noexcept { return start_dates_; }
  const std::vector<datetime>& end_dates() const noexcept { return end_dates_; }
  const std::vector<datetime>& pay_dates() const noexcept { return pay_dates_; }

 private:
  std::vector<datetime> start_dates_, end_dates_, pay_dates_;
  std::vector<double> accruals_;
  std::vector<double> weights_;
};

}  // namespace tarvex
