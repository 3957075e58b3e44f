#include "Analytics/diffusion/equity/equity_spot_diffusion.h"

#include "Analytics/diffusion/equity/diffusion_equity.h"

namespace tarvex {

std::shared_ptr<const market_data> diffusion_equity::create_market_data(
    const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
    const std::vector<std::shared_ptr<const market_data>>& created_so_far) const {
  auto domestic = created_so_far.empty() ? nullptr : diffusion_discount_curve(created_so_far[0]);
  return std::make_shared<const equity_spot_diffusion>(domestic, self, std::move(states), std::move(states_previous));
}

namespace {
double today_spot(const std::shared_ptr<const diffusion>& self) {
  const auto* e = dynamic_cast<const diffusion_equity*>(self.get());
  return e ? e->spot() : 1.0;
}
}  // namespace

equity_spot_diffusion::equity_spot_diffusion(const std::shared_ptr<const discount_curve>& domestic_curve,
                                             const std::shared_ptr<const diffusion>& self, matrix<double>&& states,
                                             matrix<double>&& spots)
    : equity_spot(today_spot(self)), domestic_curve_(domestic_curve), diffusion_(self), states_(std::move(states)),
      spots_(std::move(spots)) {}

void equity_spot_diffusion::finalize(const datetime& date) const {
  market_data::finalize(date);
  const vector<double> d = domestic_curve_->log_normalized_discounting();
  vector<double> s = spots_.row(0);
  s = exp(states_.row(0) + d);
}

vector<double> equity_spot_diffusion::spots() const { return spots_.row(0); }

void equity_spot_diffusion::forward(vector<double>& out, const datetime& t, const datetime& T) const {
  domestic_curve_->log_df(out, t, T);
  out = spots_.row(0) * exp(-1.0 * out);
}

}  // namespace tarvex
