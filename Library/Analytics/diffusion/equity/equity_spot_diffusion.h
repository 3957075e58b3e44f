#pragma once
#include <memory>

#include "Market/discount_curve.h"
#include "Market/equity_spot.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class diffusion;

// The equity spot of every path at the last simulated date. finalize() computes
// S = exp(x + d) per path (x the log-spot state, d the domestic simulated curve's log
// normalised discount factor) into row 0 of the second state block, which the spot
// reuses as its storage; the spots are therefore valid from the first propagated date.
class equity_spot_diffusion : public equity_spot {
 public:
  equity_spot_diffusion(const std::shared_ptr<const discount_curve>& domestic_curve,
                        const std::shared_ptr<const diffusion>& self, matrix<double>&& states,
                        matrix<double>&& spots);

  void finalize(const datetime& date) const override;
  vector<double> spots() const override;
  // S(t) / P(t, T) per path.
  void forward(vector<double>& out, const datetime& t, const datetime& T) const override;

 private:
  std::shared_ptr<const discount_curve> domestic_curve_;
  std::shared_ptr<const diffusion> diffusion_;
  matrix<double> states_;
  mutable matrix<double> spots_;  // a view: written by finalize on a shared const object
};

}  // namespace tarvex
