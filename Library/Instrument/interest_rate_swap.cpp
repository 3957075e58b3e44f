#include "Instrument/interest_rate_swap.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"
#include "Market/ir_volatility_surface.h"
#include "Math/bachelier.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

std::size_t position(const std::vector<datetime>& dates, const datetime& d) {
  return static_cast<std::size_t>(std::lower_bound(dates.begin(), dates.end(), d) - dates.begin());
}

void check_dfs(const std::vector<double>& dfs, std::size_t n) {
  TARVEX_CHECK(dfs.size() == n, "discount factors have size ", dfs.size(), ", the swap has ", n, " dates");
}

}  // namespace

interest_rate_swap::interest_rate_swap(const std::shared_ptr<const discount_curve>& curve, const datetime& start,
                                       const datetime& end, const tenor& frequency,
                                       const std::shared_ptr<const day_count_convention>& day_count,
                                       const tenor& payment_lag)
    : curve_(curve), start_(start), end_(end), frequency_(frequency), payment_lag_(payment_lag),
      day_count_(day_count ? day_count : std::make_shared<const day_count_convention>()) {
  TARVEX_CHECK(curve_ != nullptr, "swap needs a discount curve");
  TARVEX_CHECK(start_ < end_, "swap end ", end_.to_string(), " is not after its start ", start_.to_string());
  TARVEX_CHECK(!(start_ < curve_->valuation_date()), "swap start ", start_.to_string(),
               " is before the curve date ", curve_->valuation_date().to_string());
  TARVEX_CHECK(frequency_.count() > 0, "swap frequency ", frequency_.to_string(), " is not positive");
  TARVEX_CHECK(payment_lag_.count() >= 0, "payment lag ", payment_lag_.to_string(), " is negative");

  const std::vector<datetime> schedule = datetime_helper::schedule(start_, end_, frequency_);
  const std::size_t periods = schedule.size() - 1;
  std::vector<datetime> starts(schedule.begin(), schedule.end() - 1), ends(schedule.begin() + 1, schedule.end());
  std::vector<datetime> pays(periods);
  std::vector<double> accruals(periods);
  for (std::size_t i = 0; i < periods; ++i) {
    pays[i] = payment_lag_.count() == 0 ? ends[i] : datetime_helper::add_tenor(ends[i], payment_lag_, 1);
    accruals[i] = day_count_->fraction(starts[i], ends[i]);
  }
  fixed_leg_ = fixed_leg(starts, ends, pays, accruals);
  float_leg_ = float_leg(starts, ends, pays, accruals);

  all_dates_ = schedule;
  datetime_helper::merge_dates(pays, {}, all_dates_);
  for (std::size_t i = 0; i < periods; ++i) {
    fixed_pay_index_.push_back(position(all_dates_, pays[i]));
    float_start_index_.push_back(position(all_dates_, starts[i]));
    float_end_index_.push_back(position(all_dates_, ends[i]));
    float_pay_index_.push_back(position(all_dates_, pays[i]));
  }

  expiry_double_ = day_count_->fraction(curve_->valuation_date(), start_);
  // Whole months: 12 / 365.25 months per day keeps every whole-month tenor within a
  // small fraction of a month of its count, whatever the leap days.
  tenor_double_ = std::round((end_.value() - start_.value()) * 12.0 / 365.25) / 12.0;

  dfs_.resize(all_dates_.size());
  for (std::size_t j = 0; j < all_dates_.size(); ++j) dfs_[j] = curve_->df(all_dates_[j]);
  annuity_ = annuity(dfs_);
  swap_rate_ = swap_rate(dfs_);
}

double interest_rate_swap::annuity(const std::vector<double>& dfs) const {
  check_dfs(dfs, all_dates_.size());
  double a = 0.0;
  for (std::size_t i = 0; i < fixed_leg_.size(); ++i) a += fixed_leg_.dcf(i) * dfs[fixed_pay_index_[i]];
  return a;
}

double interest_rate_swap::swap_rate(const std::vector<double>& dfs) const {
  return value(0.0, dfs) / annuity(dfs);
}

double interest_rate_swap::value(double strike, const std::vector<double>& dfs) const {
  check_dfs(dfs, all_dates_.size());
  double v = 0.0;
  for (std::size_t j = 0; j < float_leg_.size(); ++j) {
    const std::size_t a = float_start_index_[j], e = float_end_index_[j], p = float_pay_index_[j];
    v += p == e ? float_leg_.dcf(j) * (dfs[a] - dfs[e]) : float_leg_.dcf(j) * dfs[p] * (dfs[a] / dfs[e] - 1.0);
  }
  for (std::size_t i = 0; i < fixed_leg_.size(); ++i) v -= strike * fixed_leg_.dcf(i) * dfs[fixed_pay_index_[i]];
  return v;
}

double interest_rate_swap::swap_value_aad(double seed, double strike, const std::vector<double>& dfs,
                                          std::vector<double>& adjoint) const {
  const std::size_t n = all_dates_.size();
  if (adjoint.empty()) adjoint.assign(n, 0.0);
  TARVEX_CHECK(adjoint.size() == n, "adjoint has size ", adjoint.size(), ", the swap has ", n, " dates");
  const double v = value(strike, dfs);
  for (std::size_t j = 0; j < float_leg_.size(); ++j) {
    const std::size_t a = float_start_index_[j], e = float_end_index_[j], p = float_pay_index_[j];
    const double w = seed * float_leg_.dcf(j);
    if (p == e) {
      adjoint[a] += w;
      adjoint[e] -= w;
    } else {
      const double ratio = dfs[a] / dfs[e];
      adjoint[p] += w * (ratio - 1.0);
      adjoint[a] += w * dfs[p] / dfs[e];
      adjoint[e] -= w * dfs[p] * ratio / dfs[e];
    }
  }
  for (std::size_t i = 0; i < fixed_leg_.size(); ++i) adjoint[fixed_pay_index_[i]] -= seed * strike * fixed_leg_.dcf(i);
  return v;
}

void interest_rate_swap::swap_value_aad_second(matrix<double>& hessian, double seed, const matrix<double>& loadings,
                                               double strike, const std::vector<double>& dfs) const {
  const std::size_t n = all_dates_.size(), f = loadings.columns();
  check_dfs(dfs, n);
  TARVEX_CHECK(loadings.rows() == n, "loadings have ", loadings.rows(), " rows, the swap has ", n, " dates");
  if (hessian.empty()) hessian = matrix<double>(f, f);
  TARVEX_CHECK(hessian.rows() == f && hessian.columns() == f, "hessian is ", hessian.rows(), " x ",
               hessian.columns(), " for ", f, " factors");
  // Each cash flow is c * exp(-E x + const) in x, whose Hessian is c * E E^T.
  auto add = [&](double c, auto&& e) {
    for (std::size_t r = 0; r < f; ++r)
      for (std::size_t s = 0; s < f; ++s) hessian(r, s) += c * e(r) * e(s);
  };
  auto row = [&](std::size_t j) { return [&loadings, j](std::size_t k) { return loadings(j, k) - loadings(0, k); }; };
  for (std::size_t j = 0; j < float_leg_.size(); ++j) {
    const std::size_t a = float_start_index_[j], e = float_end_index_[j], p = float_pay_index_[j];
    const double w = seed * float_leg_.dcf(j);
    if (p == e) {
      add(w * dfs[a], row(a));
      add(-w * dfs[e], row(e));
    } else {
      const auto ra = row(a), re = row(e), rp = row(p);
      add(w * dfs[p] * dfs[a] / dfs[e], [&](std::size_t k) { return ra(k) + rp(k) - re(k); });
      add(-w * dfs[p], rp);
    }
  }
  for (std::size_t i = 0; i < fixed_leg_.size(); ++i) {
    const std::size_t p = fixed_pay_index_[i];
    add(-seed * strike * fixed_leg_.dcf(i) * dfs[p], row(p));
  }
}

void interest_rate_swap::gradient(vector<double>& out, const std::vector<double>& adjoint,
                                  const matrix<double>& loadings, const std::vector<double>& dfs) {
  const std::size_t n = loadings.rows(), f = loadings.columns();
  TARVEX_CHECK(adjoint.size() == n && dfs.size() == n, "gradient has ", n, " loading rows, ", adjoint.size(),
               " adjoints and ", dfs.size(), " discount factors");
  if (out.size() != f) out.resize(f);
  for (std::size_t k = 0; k < f; ++k) {
    double g = 0.0;
    for (std::size_t j = 0; j < n; ++j) g -= adjoint[j] * (loadings(j, k) - loadings(0, k)) * dfs[j];
    out[k] = g;
  }
}

double interest_rate_swap::implied_volatility(double price, double strike, double sign) const {
  return bachelier::implied_volatility(price / annuity_, swap_rate_, strike, expiry_double_, sign);
}

double interest_rate_swap::implied_volatility(const ir_volatility_surface& surface, double strike) const {
  return surface.volatility(expiry_double_, tenor_double_, strike - swap_rate_);
}

double interest_rate_swap::implied_volatility_aad(double price, double strike, double sign, double seed,
                                                  double& price_adjoint) const {
  const double sigma = implied_volatility(price, strike, sign);
  const double vega = annuity_ * bachelier::vega(swap_rate_, strike, expiry_double_, sigma);
  if (vega > 0.0 && std::isfinite(vega)) price_adjoint += seed / vega;
  return sigma;
}

}  // namespace tarvex
