#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Instrument/interest_rate_swap.h"
#include "Market/discount_curve.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"

namespace tarvex {

// A weighted spread of two forward swap rates starting on the same date (a CMS spread
// underlying): v(K, P) = w_long S_long(P) - w_short S_short(P) - K, with each swap rate
// on the discount factors P of all_dates() (the union of both swaps' dates).
class interest_rate_spread {
 public:
  // Both swaps start at `start`; the long one ends at long_end, the short one at
  // short_end, on the given frequency and day count. The swaps validate the dates.
  interest_rate_spread(const std::shared_ptr<const discount_curve>& curve, const datetime& start,
                       const datetime& long_end, const datetime& short_end, const tenor& frequency,
                       const std::shared_ptr<const day_count_convention>& day_count, double long_weight,
                       double short_weight);

  const interest_rate_swap& long_swap() const noexcept { return *long_; }
  const interest_rate_swap& short_swap() const noexcept { return *short_; }
  double long_weight() const noexcept { return long_weight_; }
  double short_weight() const noexcept { return short_weight_; }
  // The common start.
  const datetime& expiry() const noexcept { return long_->expiry(); }
  double expiry_double() const noexcept { return long_->expiry_double(); }
  // Union of both swaps' dates, sorted; the first is the start.
  const std::vector<datetime>& all_dates() const noexcept { return all_dates_; }
  // Today's discount factors on all_dates().
  const std::vector<double>& dfs() const noexcept { return dfs_; }
  // Today's spread w_long S_long - w_short S_short.
  double spread() const;

  // v(strike, dfs).
  double value(double strike, const std::vector<double>& dfs) const;
  // Adds seed * dv/dP_j into adjoint (sized like all_dates(); an empty one is sized and
  // zeroed). Returns v.
  double value_aad(double seed, double strike, const std::vector<double>& dfs, std::vector<double>& adjoint) const;
  // Adds seed * d^2 v / dx dx^T into hessian (F x F; an empty one is sized and zeroed)
  // for dfs = model_dfs(x, loadings, P0), loadings on all_dates(). The swap rates are
  // ratios, so this includes the cross terms of numerator and annuity.
  void hessian(matrix<double>& hessian, double seed, const matrix<double>& loadings, double strike,
               const std::vector<double>& dfs) const;

 private:
  // The positions in all_dates() of a swap's dates.
  std::vector<std::size_t> positions(const interest_rate_swap& swap) const;
  static std::vector<double> gather(const std::vector<double>& dfs, const std::vector<std::size_t>& at);
  void add_rate_hessian(matrix<double>& out, double seed, const interest_rate_swap& swap,
                        const std::vector<std::size_t>& at, const matrix<double>& loadings,
                        const std::vector<double>& dfs) const;

  std::shared_ptr<const interest_rate_swap> long_, short_;
  double long_weight_, short_weight_;
  std::vector<datetime> all_dates_;
  std::vector<double> dfs_;
  std::vector<std::size_t> long_index_, short_index_;
};

}  // namespace tarvex
