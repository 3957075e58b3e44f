#pragma once
#include <memory>

#include "Market/discount_curve.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class diffusion;
class diffusion_ir;

// Today's discount curve as seen on every path at the last simulated date: the
// path-wise queries read the interest-rate diffusion's live states (views of the
// simulation manager's storage). Scalar queries have no meaning per path. The states
// are those of one date, the last one finalised: the path-wise queries answer from that
// date only (t must equal it, T must not be before t) and refuse any other.
class discount_curve_diffusion : public discount_curve {
 public:
  // `self` must be a diffusion_ir; states and states_previous are views of its blocks.
  discount_curve_diffusion(const std::shared_ptr<const diffusion>& self, matrix<double>&& states,
                           matrix<double>&& states_previous);

  double df(const datetime& t, const datetime& T) const override;
  void log_df(vector<double>& out, const datetime& t, const datetime& T) const override;
  double log_df(const datetime& t, const datetime& T) const override;
  void discounting(vector<double>& out, const datetime& t) const override;
  vector<double> log_normalized_discounting() const override;
  using discount_curve::df;

  const matrix<double>& states() const { return states_; }
  const matrix<double>& states_previous() const { return states_previous_; }

 private:
  std::shared_ptr<const diffusion> diffusion_;
  matrix<double> states_;
  matrix<double> states_previous_;
  const diffusion_ir* ir_;  // diffusion_ viewed as what it is
};

}  // namespace tarvex
