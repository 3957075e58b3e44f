#pragma once
#include <memory>

#include "Market/discount_curve.h"
#include "Market/fx_spot.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class diffusion;

// The FX spot of every path at the last simulated date: S = exp(x - f + d) with x the
// log-spot state and d, f the domestic and foreign simulated curves' log normalised
// discount factors; stored as for equity_spot_diffusion.
class fx_spot_diffusion : public fx_spot {
 public:
  fx_spot_diffusion(const std::shared_ptr<const discount_curve>& domestic_curve,
                    const std::shared_ptr<const discount_curve>& foreign_curve,
                    const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& spots);

  void finalize(const datetime& date) const override;
  vector<double> spots() const override;
  // S(t) P_foreign(t, T) / P_domestic(t, T) per path.
  void forward(vector<double>& out, const datetime& t, const datetime& T) const override;

 private:
  std::shared_ptr<const discount_curve> domestic_curve_;
  std::shared_ptr<const discount_curve> foreign_curve_;
  std::shared_ptr<const diffusion> diffusion_;
  matrix<double> states_;
  mutable matrix<double> spots_;
};

}  // namespace tarvex
