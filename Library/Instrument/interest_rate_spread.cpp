#include "Instrument/interest_rate_spread.h"

#include <algorithm>

#include "Core/check.h"
#include "Util/datetime_helper.h"

namespace tarvex {

interest_rate_spread::interest_rate_spread(const std::shared_ptr<const discount_curve>& curve, const datetime& start,
                                           const datetime& long_end, const datetime& short_end,
                                           const tenor& frequency,
                                           const std::shared_ptr<const day_count_convention>& day_count,
                                           double long_weight, double short_weight)
    : long_(std::make_shared<const interest_rate_swap>(curve, start, long_end, frequency, day_count)),
      short_(std::make_shared<const interest_rate_swap>(curve, start, short_end, frequency, day_count)),
      long_weight_(long_weight), short_weight_(short_weight) {
  datetime_helper::merge_dates(long_->all_dates(), short_->all_dates(), all_dates_);
  long_index_ = positions(*long_);
  short_index_ = positions(*short_);
  dfs_.resize(all_dates_.size());
  for (std::size_t j = 0; j < all_dates_.size(); ++j) dfs_[j] = curve->df(all_dates_[j]);
}

std::vector<std::size_t> interest_rate_spread::positions(const interest_rate_swap& swap) const {
  std::vector<std::size_t> out;
  for (const datetime& d : swap.all_dates())
    out.push_back(static_cast<std::size_t>(std::lower_bound(all_dates_.begin(), all_dates_.end(), d) -
                                           all_dates_.begin()));
  return out;
}

std::vector<double> interest_rate_spread::gather(const std::vector<double>& dfs, const std::vector<std::size_t>& at) {
  std::vector<double> out(at.size());
  for (std::size_t i = 0; i < at.size(); ++i) out[i] = dfs[at[i]];
  return out;
}

double interest_rate_spread::spread() const { return value(0.0, dfs_); }

double interest_rate_spread::value(double strike, const std::vector<double>& dfs) const {
  TARVEX_CHECK(dfs.size() == all_dates_.size(), "discount factors have size ", dfs.size(), ", the spread has ",
               all_dates_.size(), " dates");
  return long_weight_ * long_->swap_rate(gather(dfs, long_index_)) -
         short_weight_ * short_->swap_rate(gather(dfs, short_index_)) - strike;
}

double interest_rate_spread::value_aad(double seed, double strike, const std::vector<double>& dfs,
                                       std::vector<double>& adjoint) const {
  const std::size_t n = all_dates_.size();
  if (adjoint.empty()) adjoint.assign(n, 0.0);
  TARVEX_CHECK(adjoint.size() == n, "adjoint has size ", adjoint.size(), ", the spread has ", n, " dates");
  const double v = value(strike, dfs);
  // S = N / A gives dS = (dN - S dA) / A: the adjoint of the swap value at the strike S
  // held fixed, over A.
  auto add = [&](const interest_rate_swap& swap, const std::vector<std::size_t>& at, double weight) {
    const std::vector<double> p = gather(dfs, at);
    const double a = swap.annuity(p), s = swap.swap_rate(p);
    std::vector<double> local(at.size(), 0.0);
    swap.swap_value_aad(seed * weight / a, s, p, local);
    for (std::size_t i = 0; i < at.size(); ++i) adjoint[at[i]] += local[i];
  };
  add(*long_, long_index_, long_weight_);
  add(*short_, short_index_, -short_weight_);
  return v;
}

void interest_rate_spread::add_rate_hessian(matrix<double>& out, double seed, const interest_rate_swap& swap,
                                            const std::vector<std::size_t>& at, const matrix<double>& loadings,
                                            const std::vector<double>& dfs) const {
  const std::size_t f = loadings.columns();
  const std::vector<double> p = gather(dfs, at);
  matrix<double> d(at.size(), f);
  for (std::size_t i = 0; i < at.size(); ++i)
    for (std::size_t k = 0; k < f; ++k) d(i, k) = loadings(at[i], k);
  const double a = swap.annuity(p), s = swap.swap_rate(p);
  // S = N / A. With V_S = N - S A (zero at these dfs), the x-derivatives are
  //   grad S = grad V_S / A,   hess S = (hess V_S - grad A grad S^T - grad S grad A^T) / A,
  // where V_S is the swap value at strike S held fixed, and A = V(0) - V(1).
  std::vector<double> adj_s, adj_0, adj_1;
  swap.swap_value_aad(1.0, s, p, adj_s);
  swap.swap_value_aad(1.0, 0.0, p, adj_0);
  swap.swap_value_aad(1.0, 1.0, p, adj_1);
  vector<double> grad_vs, grad_0, grad_1;
  interest_rate_swap::gradient(grad_vs, adj_s, d, p);
  interest_rate_swap::gradient(grad_0, adj_0, d, p);
  interest_rate_swap::gradient(grad_1, adj_1, d, p);
  matrix<double> h(f, f);
  swap.swap_value_aad_second(h, 1.0, d, s, p);
  for (std::size_t r = 0; r < f; ++r)
    for (std::size_t c = 0; c < f; ++c) {
      const double ga_r = grad_0[r] - grad_1[r], ga_c = grad_0[c] - grad_1[c];
      const double gs_r = grad_vs[r] / a, gs_c = grad_vs[c] / a;
      out(r, c) += seed * (h(r, c) - ga_r * gs_c - gs_r * ga_c) / a;
    }
}

void interest_rate_spread::hessian(matrix<double>& out, double seed, const matrix<double>& loadings, double strike,
                                   const std::vector<double>& dfs) const {
  (void)strike;  // the strike is a constant of v
  const std::size_t f = loadings.columns();
  TARVEX_CHECK(loadings.rows() == all_dates_.size() && dfs.size() == all_dates_.size(), "loadings have ",
               loadings.rows(), " rows and discount factors ", dfs.size(), " entries, the spread has ",
               all_dates_.size(), " dates");
  if (out.empty()) out = matrix<double>(f, f);
  TARVEX_CHECK(out.rows() == f && out.columns() == f, "hessian is ", out.rows(), " x ", out.columns(), " for ", f,
               " factors");
  add_rate_hessian(out, seed * long_weight_, *long_, long_index_, loadings, dfs);
  add_rate_hessian(out, -seed * short_weight_, *short_, short_index_, loadings, dfs);
}

}  // namespace tarvex
