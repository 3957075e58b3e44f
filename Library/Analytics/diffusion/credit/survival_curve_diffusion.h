#pragma once
#include <memory>

#include "Market/survival_curve.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class diffusion;
class diffusion_credit;

// Survival probabilities per path at the last simulated date, read from a credit
// diffusion's live states. Scalar queries have no meaning per path. The path-wise
// queries answer from the last finalised date only (t must equal it, T must not be
// before t).
class survival_curve_diffusion : public survival_curve {
 public:
  survival_curve_diffusion(const std::shared_ptr<const diffusion>& self, matrix<double>&& states,
                           matrix<double>&& states_previous);

  void log_survival_probability(vector<double>& out, const datetime& t, const datetime& T) const override;
  double log_survival_probability(const datetime& t, const datetime& T) const override;
  void survival_probability(vector<double>& out, const datetime& t) const override;
  double survival_probability(const datetime& t, const datetime& T) const override;

 private:
  std::shared_ptr<const diffusion> diffusion_;
  matrix<double> states_;
  matrix<double> states_previous_;
  const diffusion_credit* credit_;
};

}  // namespace tarvex
