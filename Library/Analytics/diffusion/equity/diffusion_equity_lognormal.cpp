#include "Analytics/diffusion/equity/diffusion_equity_lognormal.h"

#include <cmath>

#include "Analytics/models/model_lognormal.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Core/check.h"
#include "Market/discount_curve.h"

namespace tarvex {
namespace {
const parameter_lognormal& checked(const std::shared_ptr<const parameter_lognormal>& p) {
  TARVEX_CHECK(p != nullptr, "lognormal equity diffusion needs a parameter set");
  return *p;
}
}  // namespace

diffusion_equity_lognormal::diffusion_equity_lognormal(const std::vector<datetime>& dates, double spot,
                                                       const std::shared_ptr<const discount_curve>& domestic,
                                                       const std::shared_ptr<const parameter_lognormal>& parameters)
    : diffusion_equity(dates, spot, domestic),
      parameters_(parameters),
      model_(std::make_shared<const model_lognormal>(checked(parameters), dates.front(), dates)) {
  TARVEX_CHECK(domestic_curve_ != nullptr, "equity diffusion needs today's domestic curve");
  TARVEX_CHECK(std::isfinite(spot) && spot > 0.0, "equity spot ", spot, " is not positive");
}

diffusion_equity_lognormal::~diffusion_equity_lognormal() = default;

void diffusion_equity_lognormal::initial_states(vector<double>& states) const { states.fill(std::log(spot_)); }

void diffusion_equity_lognormal::propagate(matrix<double>& states, matrix<double>&, std::uint64_t step,
                                           const matrix<double>& draws,
                                           const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states);
  const double c = domestic_curve_->log_df(dates()[step - 1], dates()[step]);
  vector<double> x = states.row(0);
  x = x - c;
}

std::uint64_t diffusion_equity_lognormal::number_of_states() const { return 1; }

std::uint64_t diffusion_equity_lognormal::number_of_factors() const { return parameters_->number_of_factors(); }

}  // namespace tarvex
