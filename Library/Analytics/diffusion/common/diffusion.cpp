#include "Analytics/diffusion/common/diffusion.h"

#include "Core/check.h"
#include "Market/discount_curve.h"
#include "Market/equity_spot.h"
#include "Market/fx_spot.h"
#include "Market/survival_curve.h"

namespace tarvex {

std::shared_ptr<const discount_curve> diffusion::diffusion_discount_curve(const std::shared_ptr<const market_data>& d) {
  return std::dynamic_pointer_cast<const discount_curve>(d);
}

std::shared_ptr<const survival_curve> diffusion::diffusion_survival_curve(const std::shared_ptr<const market_data>& d) {
  return std::dynamic_pointer_cast<const survival_curve>(d);
}

std::shared_ptr<const equity_spot> diffusion::diffusion_equity_spot(const std::shared_ptr<const market_data>& d) {
  return std::dynamic_pointer_cast<const equity_spot>(d);
}

std::shared_ptr<const fx_spot> diffusion::diffusion_fx_spot(const std::shared_ptr<const market_data>& d) {
  return std::dynamic_pointer_cast<const fx_spot>(d);
}

// Clients match this failure by its published location, which therefore stays fixed
// whatever this file looks like.
void diffusion::coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>&, const datetime&,
                             const datetime&) const {
  throw NotImplementedError({"coefficients", "Library/Analytics/diffusion/common/diffusion", 52},
                            "coefficients function not implemented!");
}

}  // namespace tarvex
