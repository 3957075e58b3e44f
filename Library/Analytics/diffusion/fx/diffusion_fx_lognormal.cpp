#include "Analytics/diffusion/fx/diffusion_fx_lognormal.h"

#include <cmath>

#include "Analytics/models/model_lognormal.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Core/check.h"
#include "Market/discount_curve.h"
#include "Market/fx_spot.h"

namespace tarvex {
namespace {
const parameter_lognormal& checked(const std::shared_ptr<const parameter_lognormal>& p) {
  TARVEX_CHECK(p != nullptr, "lognormal FX diffusion needs a parameter set");
  return *p;
}
double checked_spot(const std::shared_ptr<const fx_spot>& s) {
  TARVEX_CHECK(s != nullptr, "FX diffusion needs today's FX spot");
  return s->spot();
}
}  // namespace

diffusion_fx_lognormal::diffusion_fx_lognormal(const std::vector<datetime>& dates,
                                               const std::shared_ptr<const fx_spot>& spot,
                                               const std::shared_ptr<const discount_curve>& domestic,
                                               const std::shared_ptr<const discount_curve>& foreign,
                                               const std::shared_ptr<const parameter_lognormal>& parameters)
    : diffusion_fx(dates, checked_spot(spot), domestic, foreign),
      parameters_(parameters),
      model_(std::make_shared<const model_lognormal>(checked(parameters), dates.front(), dates)) {
  TARVEX_CHECK(domestic_curve_ != nullptr && foreign_curve_ != nullptr, "FX diffusion needs today's two curves");
}

diffusion_fx_lognormal::~diffusion_fx_lognormal() = default;

void diffusion_fx_lognormal::initial_states(vector<double>& states) const { states.fill(std::log(spot_)); }

void diffusion_fx_lognormal::propagate(matrix<double>& states, matrix<double>&, std::uint64_t step,
                                       const matrix<double>& draws,
                                       const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states);
  const datetime &a = dates()[step - 1], &b = dates()[step];
  const double foreign = foreign_curve_->log_df(a, b);
  const double c = foreign - domestic_curve_->log_df(a, b);
  vector<double> x = states.row(0);
  x = x + c;
}

std::uint64_t diffusion_fx_lognormal::number_of_states() const { return 1; }

std::uint64_t diffusion_fx_lognormal::number_of_factors() const { return parameters_->number_of_factors(); }

}  // namespace tarvex
