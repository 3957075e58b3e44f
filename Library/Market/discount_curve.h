#pragma once
#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/vector.h"

namespace tarvex {

// A discount curve: P(t, T) between any two dates not before the curve's date.
//
// Scalar queries serve live curves; the path-wise queries (one value per Monte Carlo
// path) serve simulated curves. A live curve answers the path-wise queries with its
// deterministic value on every path, so pricing code can take either.
class discount_curve : public market_data {
 public:
  using market_data::market_data;

  // P(t, T) = exp(log_df(t, T)).
  virtual double df(const datetime& t, const datetime& T) const;
  // ln P(t, T) on every path of out.
  virtual void log_df(vector<double>& out, const datetime& t, const datetime& T) const;
  // ln P(t, T) = ln P(d, T) - ln P(d, t) with d the curve's date.
  virtual double log_df(const datetime& t, const datetime& T) const = 0;
  // The numeraire discount factor from the curve's date to t on every path; for a
  // live curve P(d, t).
  virtual void discounting(vector<double>& out, const datetime& t) const;
  // The log normalised discount factor per path (a view of simulated state); live
  // curves have none and raise NotImplementedError.
  virtual vector<double> log_normalized_discounting() const;

  // P(d, T) from the curve's date.
  double df(const datetime& T) const { return df(valuation_date(), T); }
};

}  // namespace tarvex
