#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"

namespace tarvex {

// Swaption normal (Bachelier) volatilities on an expiry x swap-tenor grid, optionally
// with a strike dimension given as offsets K - F from the forward swap rate (a cube).
//
// Expiry and tenor are year fractions: expiry as the swap's expiry_double(), tenor as
// its length rounded to whole months (interest_rate_swap::tenor_double()). Lookup is
// bilinear in expiry and tenor and linear in the strike offset, flat beyond every end
// of every axis, so a query never extrapolates a slope.
class ir_volatility_surface {
 public:
  // vols[i * tenors + j] for expiry i and tenor j; or, with strike offsets,
  // vols[(i * tenors + j) * offsets + k]. Axes strictly ascending and finite, vols
  // finite and non-negative, sizes consistent; an empty offset list means no smile.
  ir_volatility_surface(const datetime& valuation_date, std::vector<double> expiries, std::vector<double> tenors,
                        std::vector<double> vols, std::vector<double> strike_offsets = {});
  // The same from market tenors: expiry e sits at day_count.fraction(d, d + e) (null
  // day count: ACT/365F), swap tenor t at its length in years (months / 12; only
  // month and year units).
  ir_volatility_surface(const datetime& valuation_date, const std::vector<tenor>& expiries,
                        const std::vector<tenor>& tenors, std::vector<double> vols,
                        const std::shared_ptr<const day_count_convention>& day_count,
                        std::vector<double> strike_offsets = {});

  // The normal volatility at (expiry, tenor, strike offset K - F).
  double volatility(double expiry, double tenor, double strike_offset = 0.0) const;

  const datetime& valuation_date() const noexcept { return valuation_date_; }
  const std::vector<double>& expiries() const noexcept { return expiries_; }
  const std::vector<double>& tenors() const noexcept { return tenors_; }
  const std::vector<double>& strike_offsets() const noexcept { return strike_offsets_; }
  const std::vector<double>& vols() const noexcept { return vols_; }
  bool has_smile() const noexcept { return !strike_offsets_.empty(); }

 private:
  double node(std::size_t i, std::size_t j, double strike_offset) const;

  datetime valuation_date_;
  std::vector<double> expiries_, tenors_, vols_, strike_offsets_;
};

}  // namespace tarvex
