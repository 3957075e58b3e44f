#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/common/diffusion.h"

namespace tarvex {

// A default-intensity diffusion: a short-rate model reused for the intensity, whose
// log-discount state accumulates the integrated intensity. Concrete models (HJM,
// Black–Karasinski, extended CIR) derive from it.
class diffusion_credit : public diffusion {
 public:
  // ln Q(t, T) per path at the states of date t.
  virtual void log_conditional_survival_probability(vector<double>& out, const matrix<double>& states,
                                                    const datetime& t, const datetime& T) const = 0;
  // Q(t0, t) per path.
  virtual void survival_probability(vector<double>& out, const matrix<double>& states,
                                    const datetime& t) const = 0;

  std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const override;

  const std::shared_ptr<const survival_curve>& curve() const { return survival_curve_; }

 protected:
  diffusion_credit(const std::vector<datetime>& dates, const std::shared_ptr<const survival_curve>& curve)
      : diffusion(dates), survival_curve_(curve) {}

  std::shared_ptr<const survival_curve> survival_curve_;
};

}  // namespace tarvex
