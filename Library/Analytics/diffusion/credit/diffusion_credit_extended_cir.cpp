#include "Analytics/diffusion/credit/diffusion_credit_extended_cir.h"

#include "Analytics/models/model_extended_cir.h"
#include "Analytics/parameters/parameter_extended_cir.h"
#include "Core/check.h"
#include "Market/survival_curve.h"
#include "Vectorization/details/storage.h"

namespace tarvex {
namespace {
const parameter_extended_cir& checked(const std::shared_ptr<const parameter_extended_cir>& p) {
  TARVEX_CHECK(p != nullptr, "extended CIR credit diffusion needs a parameter set");
  return *p;
}
const std::shared_ptr<const survival_curve>& checked(const std::shared_ptr<const survival_curve>& c) {
  TARVEX_CHECK(c != nullptr, "credit diffusion needs today's survival curve");
  return c;
}
}  // namespace

diffusion_credit_extended_cir::diffusion_credit_extended_cir(const std::vector<datetime>& dates,
                                                     const std::shared_ptr<const survival_curve>& curve,
                                                     const std::shared_ptr<const parameter_extended_cir>& parameters)
    : diffusion_credit(dates, checked(curve)),
      parameters_(parameters),
      model_(std::make_shared<const model_extended_cir>(checked(parameters), dates.front(), dates, false)) {}

diffusion_credit_extended_cir::~diffusion_credit_extended_cir() = default;

void diffusion_credit_extended_cir::initial_states(vector<double>& states) const { model_->initial_states(states); }

void diffusion_credit_extended_cir::propagate(matrix<double>& states, matrix<double>& states_previous,
                                                std::uint64_t step, const matrix<double>& draws,
                                                const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states_previous, states);
}

std::uint64_t diffusion_credit_extended_cir::number_of_states() const { return parameters_->number_of_factors() + 1; }

std::uint64_t diffusion_credit_extended_cir::number_of_factors() const { return parameters_->number_of_factors(); }

void diffusion_credit_extended_cir::log_conditional_survival_probability(vector<double>& out,
                                                                           const matrix<double>& states,
                                                                           const datetime& t, const datetime& T) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  model_->conditional_price(states, t, T, out);
  const double c = survival_curve_->log_survival_probability(t, T);
  out = out + c;
}

void diffusion_credit_extended_cir::survival_probability(vector<double>& out, const matrix<double>& states,
                                                           const datetime& t) const {
  details::check_size(states.columns(), out.size());
  const double c = survival_curve_->log_survival_probability(dates().front(), t);
  const vector<double> x = states.row(parameters_->number_of_factors());
  out = exp(c - x);
}

}  // namespace tarvex
