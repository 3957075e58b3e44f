#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Instrument/fixed_leg.h"
#include "Instrument/float_leg.h"
#include "Market/discount_curve.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

class ir_volatility_surface;

// A vanilla interest-rate swap from its start (the option expiry when it underlies a
// swaption) to its end, both legs on one frequency and one day count, unit notional.
//
// Values are payer values, floating minus fixed:
//   V(K, P) = sum_j w_j (P_a P_p / P_e - P_p)  -  K sum_i d_i P_i,
// with w_j = float_leg::dcf(j), d_i = fixed_leg::dcf(i), and discount factors P on
// all_dates(). Without a payment lag p = e and the float term is w_j (P_a - P_e), so
// the value is linear in P; it is evaluated in that form so that no division enters.
//
// Discount factors handed in ("dfs") are indexed like all_dates(); today's are dfs().
// The derivatives with respect to a factor state x assume the dfs come from
// model_dfs: P_j(x) = P0_j exp(-((D_j - D_0) x + (|D_j|^2 - |D_0|^2)/2)), so that
// dP_j/dx = -(D_j - D_0) P_j (the clamp of model_dfs is not differentiated).
class interest_rate_swap {
 public:
  // Schedules from datetime_helper::schedule(start, end, frequency) on both legs,
  // accruals from the day count (null means ACT/365F). Payments fall on period ends,
  // or `payment_lag` after them. Expects a curve, start not before the curve's date,
  // end after start, a positive frequency and non-negative lag.
  interest_rate_swap(const std::shared_ptr<const discount_curve>& curve, const datetime& start, const datetime& end,
                     const tenor& frequency, const std::shared_ptr<const day_count_convention>& day_count,
                     const tenor& payment_lag = tenor());

  // The start date (the expiry of an option on the swap).
  const datetime& expiry() const noexcept { return start_; }
  // Year fraction from the curve's date to the start under the swap's day count.
  double expiry_double() const noexcept { return expiry_double_; }
  // Length of the swap in years rounded to whole months: the tenor coordinate of an
  // ir_volatility_surface (a 10Y swap is 10.0 whatever the leap days).
  double tenor_double() const noexcept { return tenor_double_; }
  const datetime& start() const noexcept { return start_; }
  const datetime& end() const noexcept { return end_; }
  const tenor& frequency() const noexcept { return frequency_; }
  const tenor& payment_lag() const noexcept { return payment_lag_; }
  const std::shared_ptr<const discount_curve>& curve() const noexcept { return curve_; }
  const std::shared_ptr<const day_count_convention>& day_count() const noexcept { return day_count_; }

  // Every date of both legs, sorted, each once; the first is the start.
  const std::vector<datetime>& all_dates() const noexcept { return all_dates_; }
  // Today's discount factors P(d, t) on all_dates().
  const std::vector<double>& dfs() const noexcept { return dfs_; }
  const fixed_leg& fixed_leg_instrument() const noexcept { return fixed_leg_; }
  const float_leg& float_leg_instrument() const noexcept { return float_leg_; }
  // Positions in all_dates() of each fixed payment and of each float period's start,
  // end and payment.
  const std::vector<std::size_t>& fixed_pay_index() const noexcept { return fixed_pay_index_; }
  const std::vector<std::size_t>& float_start_index() const noexcept { return float_start_index_; }
  const std::vector<std::size_t>& float_end_index() const noexcept { return float_end_index_; }
  const std::vector<std::size_t>& float_pay_index() const noexcept { return float_pay_index_; }
  // True for a single-period swap (an option on it is a caplet).
  bool is_caplet() const noexcept { return float_leg_.size() == 1 && fixed_leg_.size() == 1; }

  // sum_i d_i P_i on today's, or the given, discount factors.
  double annuity() const { return annuity_; }
  double annuity(const std::vector<double>& dfs) const;
  // Par rate: floating leg value over the annuity.
  double swap_rate() const { return swap_rate_; }
  double swap_rate(const std::vector<double>& dfs) const;
  // Payer value V(strike, dfs).
  double value(double strike, const std::vector<double>& dfs) const;

  // Adds seed * dV/dP_j into adjoint[j] (adjoint sized like all_dates(); an empty one is
  // sized and zeroed first). Returns V.
  double swap_value_aad(double seed, double strike, const std::vector<double>& dfs,
                        std::vector<double>& adjoint) const;
  // Adds seed * d^2 V / dx dx^T into hessian (F x F; an empty one is sized and zeroed),
  // for dfs = model_dfs(x, loadings, P0) and loadings of all_dates().size() x F. With
  // no lag V is linear in P and the Hessian is sum_j (dV/dP_j) P_j E_j E_j^T with
  // E_j = D_j - D_0; a lagged float coupon adds its convexity term exactly.
  void swap_value_aad_second(matrix<double>& hessian, double seed, const matrix<double>& loadings, double strike,
                             const std::vector<double>& dfs) const;
  // Chain rule through model_dfs: out_k = -sum_j adjoint_j (D_jk - D_0k) dfs_j, the
  // gradient with respect to the factor state of whatever `adjoint` is the
  // dfs-adjoint of. `out` is resized to the factor count and overwritten.
  static void gradient(vector<double>& out, const std::vector<double>& adjoint, const matrix<double>& loadings,
                       const std::vector<double>& dfs);

  // Normal (Bachelier) volatility of the forward swap rate that reproduces `price`
  // (an option value in today's money, annuity on today's dfs); sign +1 payer, -1
  // receiver. Errors of bachelier::implied_volatility pass through (price below
  // intrinsic, non-finite input).
  double implied_volatility(double price, double strike, double sign) const;
  // The market's normal volatility for this swap: the surface at expiry_double(),
  // tenor_double() and strike offset strike - swap_rate().
  double implied_volatility(const ir_volatility_surface& surface, double strike) const;
  // implied_volatility(price, strike, sign), and adds seed * d sigma / d price into
  // price_adjoint: 1 / (annuity * sqrt(T) * n(d)), the inverse Bachelier vega. At
  // zero volatility (price at intrinsic) the derivative is unbounded unless the swap is
  // at the money; the adjoint then receives 0 rather than an infinity.
  double implied_volatility_aad(double price, double strike, double sign, double seed, double& price_adjoint) const;

 private:
  std::shared_ptr<const discount_curve> curve_;
  datetime start_, end_;
  tenor frequency_, payment_lag_;
  std::shared_ptr<const day_count_convention> day_count_;
  double expiry_double_ = 0.0, tenor_double_ = 0.0;
  std::vector<datetime> all_dates_;
  std::vector<double> dfs_;
  fixed_leg fixed_leg_;
  float_leg float_leg_;
  std::vector<std::size_t> fixed_pay_index_, float_start_index_, float_end_index_, float_pay_index_;
  double annuity_ = 0.0, swap_rate_ = 0.0;
};

}  // namespace tarvex
