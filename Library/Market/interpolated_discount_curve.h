#pragma once
#include <memory>
#include <vector>

#include "Market/discount_curve.h"
#include "Util/day_count_convention.h"

namespace tarvex {

// How the pillar values of a curve are quoted.
enum class curve_quote_type : int {
  zero_rate = 0,        // continuously compounded zero rate r: P = exp(-r t)
  discount_factor = 1,  // P itself
};

// Today's discount curve from pillars.
//
// Interpolation is linear in ln P against the year fraction t of the curve's day count
// (piecewise-flat instantaneous forwards), with the valuation date as an implicit
// pillar of P = 1. Beyond the last pillar the last segment's forward rate continues
// (flat-forward extrapolation), so a one-pillar curve is a flat zero curve. Dates
// before the valuation date are refused.
class interpolated_discount_curve : public discount_curve {
 public:
  // Pillars strictly after the valuation date, ascending; values finite and, for
  // discount factors, positive. A null day count means ACT/365F.
  interpolated_discount_curve(const datetime& valuation_date, std::vector<datetime> dates,
                              std::vector<double> values, curve_quote_type quote = curve_quote_type::zero_rate,
                              std::shared_ptr<const day_count_convention> day_count = nullptr);

  using discount_curve::df;
  using discount_curve::log_df;
  double log_df(const datetime& t, const datetime& T) const override;

  // ln P(d, T) from the valuation date d.
  double log_df(const datetime& T) const;
  // Continuously compounded zero rate to T (the first segment's forward at d).
  double zero_rate(const datetime& T) const;

  const std::vector<datetime>& dates() const { return dates_; }
  const std::shared_ptr<const day_count_convention>& day_count() const { return day_count_; }

 private:
  std::vector<datetime> dates_;
  std::vector<double> times_;     // year fractions of the pillars
  std::vector<double> log_dfs_;   // ln P at the pillars
  std::shared_ptr<const day_count_convention> day_count_;
};

}  // namespace tarvex
