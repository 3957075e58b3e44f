#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/common/diffusion.h"

namespace tarvex {

// An FX diffusion (domestic per foreign): one log-spot state row; the simulated spot
// needs both curves' simulated numeraires (domestic first, foreign second in the
// simulation's diffusion list).
class diffusion_fx : public diffusion {
 public:
  std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const override;

  double spot() const { return spot_; }
  const std::shared_ptr<const discount_curve>& domestic_curve() const { return domestic_curve_; }
  const std::shared_ptr<const discount_curve>& foreign_curve() const { return foreign_curve_; }

 protected:
  diffusion_fx(const std::vector<datetime>& dates, double spot, const std::shared_ptr<const discount_curve>& domestic,
               const std::shared_ptr<const discount_curve>& foreign)
      : diffusion(dates), spot_(spot), domestic_curve_(domestic), foreign_curve_(foreign) {}

  double spot_;
  std::shared_ptr<const discount_curve> domestic_curve_;
  std::shared_ptr<const discount_curve> foreign_curve_;
};

}  // namespace tarvex
