#pragma once
#include <cstddef>
#include <vector>

#include "Util/datetime.h"

namespace tarvex {

// The fixed leg of a swap: one coupon per period, strike times accrual paid at the
// period's payment date.
class fixed_leg {
 public:
  // No periods.
  fixed_leg() = default;
  // Period i runs from start_dates[i] to end_dates[i] and pays at pay_dates[i]; the
  // accruals are the year fractions of the periods. All four have one entry per period.
  fixed_leg(std::vector<datetime> start_dates, std::vector<datetime> end_dates, std::vector<datetime> pay_dates,
            std::vector<double> accruals);

  // Number of coupons.
  std::size_t size() const noexcept { return accruals_.size(); }
  // Accrual year fraction of period i.
  double dcf(std::size_t i) const { return accruals_[i]; }
  const std::vector<double>& dcfs() const noexcept { return accruals_; }
  const std::vector<datetime>& start_dates() const noexcept { return start_dates_; }
  const std::vector<datetime>& end_dates() const noexcept { return end_dates_; }
  const std::vector<datetime>& pay_dates() const noexcept { return pay_dates_; }

 private:
  std::vector<datetime> start_dates_, end_dates_, pay_dates_;
  std::vector<double> accruals_;
};

}  // namespace tarvex
