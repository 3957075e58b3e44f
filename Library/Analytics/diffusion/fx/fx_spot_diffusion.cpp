#include "Analytics/diffusion/fx/fx_spot_diffusion.h"

#include "Analytics/diffusion/fx/diffusion_fx.h"

namespace tarvex {

std::shared_ptr<const market_data> diffusion_fx::create_market_data(
    const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
    const std::vector<std::shared_ptr<const market_data>>& created_so_far) const {
  auto domestic = created_so_far.size() > 0 ? diffusion_discount_curve(created_so_far[0]) : nullptr;
  auto foreign = created_so_far.size() > 1 ? diffusion_discount_curve(created_so_far[1]) : nullptr;
  return std::make_shared<const fx_spot_diffusion>(domestic, foreign, self, std::move(states),
                                                   std::move(states_previous));
}

namespace {
double today_spot(const std::shared_ptr<const diffusion>& self) {
  const auto* f = dynamic_cast<const diffusion_fx*>(self.get());
  return f ? f->spot() : 1.0;
}
}  // namespace

fx_spot_diffusion::fx_spot_diffusion(const std::shared_ptr<const discount_curve>& domestic_curve,
                                     const std::shared_ptr<const discount_curve>& foreign_curve,
                                     const std::shared_ptr<const diffusion>& self, matrix<double>&& states,
                                     matrix<double>&& spots)
    : fx_spot(today_spot(self)), domestic_curve_(domestic_curve), foreign_curve_(foreign_curve), diffusion_(self),
      states_(std::move(states)), spots_(std::move(spots)) {}

void fx_spot_diffusion::finalize(const datetime& date) const {
  market_data::finalize(date);
  const vector<double> d = domestic_curve_->log_normalized_discounting();
  const vector<double> f = foreign_curve_->log_normalized_discounting();
  vector<double> s = spots_.row(0);
  s = exp(states_.row(0) - f + d);
}

vector<double> fx_spot_diffusion::spots() const { return spots_.row(0); }

void fx_spot_diffusion::forward(vector<double>& out, const datetime& t, const datetime& T) const {
  vector<double> foreign(out.size());
  foreign_curve_->log_df(foreign, t, T);
  domestic_curve_->log_df(out, t, T);
  out = spots_.row(0) * exp(foreign - out);
}

}  // namespace tarvex
