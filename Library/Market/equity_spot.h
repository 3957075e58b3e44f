#pragma once
#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/vector.h"

namespace tarvex {

// An equity's spot price. A live object holds today's spot; simulated objects add the
// spot of every path and path-wise forwards (live objects raise NotImplementedError
// for those: they have no paths and no curves).
class equity_spot : public market_data {
 public:
  // Finite and positive.
  equity_spot(const datetime& valuation_date, double spot);

  double spot() const { return spot_; }
  // The spot of every path, viewed.
  virtual vector<double> spots() const;
  // S(t) / P(t, T) on every path of out.
  virtual void forward(vector<double>& out, const datetime& t, const datetime& T) const;

 protected:
  // For simulated spots, whose date comes with finalize().
  explicit equity_spot(double spot = 1.0);

 private:
  double spot_;
};

}  // namespace tarvex
