#pragma once
#include <memory>
#include <vector>

#include "Market/survival_curve.h"
#include "Util/day_count_convention.h"

namespace tarvex {

// How the pillar values of a survival curve are quoted.
enum class survival_quote_type : int {
  hazard_rate = 0,           // piecewise-constant intensity on (previous pillar, pillar]
  survival_probability = 1,  // Q(d, pillar)
};

// A survival curve from pillars: ln Q linear in the year fraction between pillars
// (piecewise-constant hazard), Q = 1 at the valuation date, the last hazard rate
// continued beyond the last pillar. Hazard rates must be finite and non-negative;
// probabilities in (0, 1] and non-increasing.
class interpolated_survival_curve : public survival_curve {
 public:
  interpolated_survival_curve(const datetime& valuation_date, std::vector<datetime> dates,
                              std::vector<double> values,
                              survival_quote_type quote = survival_quote_type::hazard_rate,
                              std::shared_ptr<const day_count_convention> day_count = nullptr);

  using survival_curve::log_survival_probability;
  using survival_curve::survival_probability;
  double log_survival_probability(const datetime& t, const datetime& T) const override;
  // ln Q(d, T).
  double log_survival_probability(const datetime& T) const;

  const std::vector<datetime>& dates() const { return dates_; }

 private:
  std::vector<datetime> dates_;
  std::vector<double> times_;
  std::vector<double> log_probabilities_;
  std::shared_ptr<const day_count_convention> day_count_;
};

}  // namespace tarvex
