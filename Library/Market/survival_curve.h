#pragma once
#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Survival probabilities Q(t, T) of one credit entity between dates not before the
// curve's date. As for discount curves, live curves answer the path-wise queries with
// their deterministic value on every path.
class survival_curve : public market_data {
 public:
  using market_data::market_data;

  // ln Q(t, T) on every path of out.
  virtual void log_survival_probability(vector<double>& out, const datetime& t, const datetime& T) const;
  // ln Q(t, T) = ln Q(d, T) - ln Q(d, t) with d the curve's date.
  virtual double log_survival_probability(const datetime& t, const datetime& T) const = 0;
  // Q(d, t) on every path of out.
  virtual void survival_probability(vector<double>& out, const datetime& t) const;
  // Q(t, T) = exp(log_survival_probability(t, T)).
  virtual double survival_probability(const datetime& t, const datetime& T) const;
};

}  // namespace tarvex
