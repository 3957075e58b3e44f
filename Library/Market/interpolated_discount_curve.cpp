#include "Market/interpolated_discount_curve.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Core/check.h"
#include "Market/pillar_interpolation.h"

namespace tarvex {

interpolated_discount_curve::interpolated_discount_curve(const datetime& valuation_date, std::vector<datetime> dates,
                                                         std::vector<double> values, curve_quote_type quote,
                                                         std::shared_ptr<const day_count_convention> day_count)
    : discount_curve(valuation_date), dates_(std::move(dates)), day_count_(std::move(day_count)) {
  if (!day_count_) day_count_ = std::make_shared<const day_count_convention>();
  TARVEX_CHECK(!dates_.empty(), "discount curve has no pillars");
  TARVEX_CHECK(values.size() == dates_.size(), "discount curve has ", values.size(), " values for ", dates_.size(),
               " pillar dates");
  times_ = pillar_times(valuation_date, dates_, *day_count_, "discount curve");
  log_dfs_.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double v = values[i];
    TARVEX_CHECK(std::isfinite(v), "discount curve value ", i, " is not finite");
    if (quote == curve_quote_type::discount_factor) {
      TARVEX_CHECK(v > 0.0, "discount factor ", i, " is ", v, ", not positive");
      log_dfs_[i] = std::log(v);
    } else {
      log_dfs_[i] = -v * times_[i];
    }
  }
}

double interpolated_discount_curve::log_df(const datetime& T) const {
  return log_linear_value(times_, log_dfs_, pillar_time(valuation_date(), T, *day_count_, "discount curve"));
}

double interpolated_discount_curve::log_df(const datetime& t, const datetime& T) const {
  if (t == T) return 0.0;
  return log_df(T) - log_df(t);
}

double interpolated_discount_curve::zero_rate(const datetime& T) const {
  const double t = pillar_time(valuation_date(), T, *day_count_, "discount curve");
  if (t <= 0.0) return -log_dfs_[0] / times_[0];
  return -log_linear_value(times_, log_dfs_, t) / t;
}

}  // namespace tarvex
