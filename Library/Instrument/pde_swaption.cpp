#include "Instrument/pde_swaption.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"
#include "Market/discount_curve.h"

namespace tarvex {

pde_swaption::pde_swaption(bool payer, double notional, double strike,
                           std::vector<std::shared_ptr<const interest_rate_swap>> underlyings, bool forward)
    : payer_(payer), notional_(notional), strike_(strike), underlyings_(std::move(underlyings)), forward_(forward) {
  TARVEX_CHECK_TEXT(!underlyings_.empty(), "swaption has no exercise date");
  TARVEX_CHECK_TEXT(notional_ >= 0.0 && std::isfinite(notional_), "swaption notional must be non-negative");
  TARVEX_CHECK_TEXT(std::isfinite(strike_), "swaption strike must be finite");
  for (std::size_t k = 0; k < underlyings_.size(); ++k) {
    const auto& u = *underlyings_[k];
    TARVEX_CHECK_TEXT(u.payment_lag().count() == 0, "swaption underlyings pay without lag");
    TARVEX_CHECK_TEXT(u.start() < u.end(), "swaption exercise ", u.start().to_string(), " is not before the end ",
                      u.end().to_string());
    TARVEX_CHECK_TEXT(k == 0 || underlyings_[k - 1]->start() < u.start(), "swaption exercise dates must ascend");
  }
  TARVEX_CHECK_TEXT(!forward_ || underlyings_.size() == 1, "forward PDE grids price European swaptions only");
}

std::vector<datetime> pde_swaption::exercise_dates() const {
  std::vector<datetime> out;
  for (const auto& u : underlyings_) out.push_back(u->start());
  return out;
}

std::size_t pde_swaption::exercise_index(const datetime& date) const {
  for (std::size_t k = 0; k < underlyings_.size(); ++k)
    if (underlyings_[k]->start() == date) return k;
  return underlyings_.size();
}

void pde_swaption::exercise_value(std::size_t k, const std::vector<std::shared_ptr<const market_data>>& market,
                                  vector<double>& out) const {
  TARVEX_CHECK_TEXT(!market.empty(), "swaption needs a discount curve");
  const auto curve = std::dynamic_pointer_cast<const discount_curve>(market.front());
  TARVEX_CHECK_TEXT(curve != nullptr, "swaption needs a discount curve");
  const auto& swap = *underlyings_[k];
  const auto& dates = swap.all_dates();
  const std::size_t nodes = out.size();
  // ln P(e, d) per date and node, then the swap value node by node.
  std::vector<vector<double>> log_dfs(dates.size(), vector<double>(nodes));
  for (std::size_t i = 0; i < dates.size(); ++i) curve->log_df(log_dfs[i], swap.start(), dates[i]);
  vector<double> today(nodes);
  curve->discounting(today, swap.start());
  std::vector<double> dfs(dates.size());
  const double sign = payer_ ? 1.0 : -1.0;
  for (std::size_t p = 0; p < nodes; ++p) {
    for (std::size_t i = 0; i < dates.size(); ++i) dfs[i] = std::exp(log_dfs[i][p]);
    out[p] = notional_ * std::max(sign * swap.value(strike_, dfs), 0.0) * today[p];
  }
}

void pde_swaption::start_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                                 tensor<double>& slice) const {
  const std::size_t k = exercise_index(date);
  if (forward_ || k == underlyings_.size()) return;
  vector<double> exercise(slice.size());
  exercise_value(k, market, exercise);
  double* v = slice.data();
  for (std::size_t p = 0; p < slice.size(); ++p) v[p] = std::max(v[p], exercise[p]);
}

void pde_swaption::end_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                               const std::shared_ptr<life_cycle_data>&, tensor<double>& slice) const {
  if (!forward_ || exercise_index(date) != 0) return;
  vector<double> exercise(slice.size());
  exercise_value(0, market, exercise);
  double* v = slice.data();
  for (std::size_t p = 0; p < slice.size(); ++p) v[p] *= exercise[p];
}

}  // namespace tarvex
