#pragma once
#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/vector.h"

namespace tarvex {

// An exchange rate: units of domestic currency per unit of foreign currency. As for
// equity_spot, the path-wise queries belong to simulated objects.
class fx_spot : public market_data {
 public:
  // Finite and positive.
  fx_spot(const datetime& valuation_date, double spot);

  double spot() const { return spot_; }
  virtual vector<double> spots() const;
  // S(t) P_foreign(t, T) / P_domestic(t, T) on every path of out.
  virtual void forward(vector<double>& out, const datetime& t, const datetime& T) const;

 protected:
  explicit fx_spot(double spot = 1.0);

 private:
  double spot_;
};

}  // namespace tarvex
