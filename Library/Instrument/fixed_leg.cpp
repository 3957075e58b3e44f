#include "Instrument/fixed_leg.h"

#include <utility>

#include "Core/check.h"

namespace tarvex {

fixed_leg::fixed_leg(std::vector<datetime> start_dates, std::vector<datetime> end_dates,
                     std::vector<datetime> pay_dates, std::vector<double> accruals)
    : start_dates_(std::move(start_dates)), end_dates_(std::move(end_dates)), pay_dates_(std::move(pay_dates)),
      accruals_(std::move(accruals)) {
  const std::size_t n = accruals_.size();
  TARVEX_CHECK(start_dates_.size() == n && end_dates_.size() == n && pay_dates_.size() == n, "fixed leg has ",
               n, " accruals for ", start_dates_.size(), " starts, ", end_dates_.size(), " ends and ",
               pay_dates_.size(), " payments");
  for (std::size_t i = 0; i < n; ++i)
    TARVEX_CHECK(accruals_[i] > 0.0, "fixed leg period ", i, " from ", start_dates_[i].to_string(), " to ",
                 end_dates_[i].to_string(), " has accrual ", accruals_[i]);
}

}  // namespace tarvex
