#include "Market/interpolated_survival_curve.h"

#include <cmath>
#include <utility>

#include "Core/check.h"
#include "Market/pillar_interpolation.h"

namespace tarvex {

interpolated_survival_curve::interpolated_survival_curve(const datetime& valuation_date, std::vector<datetime> dates,
                                                         std::vector<double> values, survival_quote_type quote,
                                                         std::shared_ptr<const day_count_convention> day_count)
    : survival_curve(valuation_date), dates_(std::move(dates)), day_count_(std::move(day_count)) {
  if (!day_count_) day_count_ = std::make_shared<const day_count_convention>();
  TARVEX_CHECK(!dates_.empty(), "survival curve has no pillars");
  TARVEX_CHECK(values.size() == dates_.size(), "survival curve has ", values.size(), " values for ", dates_.size(),
               " pillar dates");
  times_ = pillar_times(valuation_date, dates_, *day_count_, "survival curve");
  log_probabilities_.resize(values.size());
  double previous_time = 0.0, previous_log = 0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double v = values[i];
    TARVEX_CHECK(std::isfinite(v), "survival curve value ", i, " is not finite");
    if (quote == survival_quote_type::hazard_rate) {
      TARVEX_CHECK(v >= 0.0, "hazard rate ", i, " is ", v, ", negative");
      log_probabilities_[i] = previous_log - v * (times_[i] - previous_time);
    } else {
      TARVEX_CHECK(v > 0.0 && v <= 1.0, "survival probability ", i, " is ", v, ", not in (0, 1]");
      log_probabilities_[i] = std::log(v);
      TARVEX_CHECK(log_probabilities_[i] <= previous_log, "survival probability ", i, " is ", v,
                   ", above the previous pillar's");
    }
    previous_time = times_[i];
    previous_log = log_probabilities_[i];
  }
}

double interpolated_survival_curve::log_survival_probability(const datetime& T) const {
  return log_linear_value(times_, log_probabilities_,
                          pillar_time(valuation_date(), T, *day_count_, "survival curve"));
}

double interpolated_survival_curve::log_survival_probability(const datetime& t, const datetime& T) const {
  if (t == T) return 0.0;
  return log_survival_probability(T) - log_survival_probability(t);
}

}  // namespace tarvex
