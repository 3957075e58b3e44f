#include "Analytics/diffusion/ir/diffusion_ir.h"

#include "Analytics/diffusion/ir/discount_curve_diffusion.h"
#include "Core/check.h"
#include "Market/discount_curve.h"

namespace tarvex {

diffusion_ir::diffusion_ir(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve)
    : diffusion(dates), discount_curve_(curve) {
  TARVEX_CHECK(discount_curve_ != nullptr, "interest-rate diffusion needs today's discount curve");
  TARVEX_CHECK(!dates.empty(), "interest-rate diffusion needs at least the initial date");
}

void diffusion_ir::discounting(vector<double>& out, const matrix<double>& states, const datetime& t) const {
  const double c = discount_curve_->log_df(dates().front(), t);
  const vector<double> x = log_normalized_discounting(states);
  out = exp(c - x);
}

vector<double> diffusion_ir::log_normalized_discounting(const matrix<double>& states) const {
  return states.row(log_normalized_discounting_index());
}

std::shared_ptr<const market_data> diffusion_ir::create_market_data(
    const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
    const std::vector<std::shared_ptr<const market_data>>&) const {
  return std::make_shared<const discount_curve_diffusion>(self, std::move(states), std::move(states_previous));
}

}  // namespace tarvex
