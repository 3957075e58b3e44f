#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/common/diffusion.h"

namespace tarvex {

// An equity diffusion: one log-spot state row; the simulated spot also needs the
// domestic curve's simulated numeraire, which is why the domestic interest-rate
// diffusion comes first in a simulation.
class diffusion_equity : public diffusion {
 public:
  std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const override;

  double spot() const { return spot_; }
  const std::shared_ptr<const discount_curve>& domestic_curve() const { return domestic_curve_; }

 protected:
  diffusion_equity(const std::vector<datetime>& dates, double spot,
                   const std::shared_ptr<const discount_curve>& domestic)
      : diffusion(dates), spot_(spot), domestic_curve_(domestic) {}

  double spot_;
  std::shared_ptr<const discount_curve> domestic_curve_;
};

}  // namespace tarvex
