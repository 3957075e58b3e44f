#include "Analytics/diffusion/ir/diffusion_ir_extended_cir.h"

#include "Analytics/models/model_extended_cir.h"
#include "Analytics/parameters/parameter_extended_cir.h"
#include "Core/check.h"
#include "Market/discount_curve.h"

namespace tarvex {
namespace {
const parameter_extended_cir& checked(const std::shared_ptr<const parameter_extended_cir>& p) {
  TARVEX_CHECK(p != nullptr, "extended CIR diffusion needs a parameter set");
  return *p;
}
}  // namespace

diffusion_ir_extended_cir::diffusion_ir_extended_cir(const std::vector<datetime>& dates,
                                                     const std::shared_ptr<const discount_curve>& curve,
                                                     const std::shared_ptr<const parameter_extended_cir>& parameters)
    : diffusion_ir(dates, curve),
      parameters_(parameters),
      model_(std::make_shared<const model_extended_cir>(checked(parameters), dates.front(), dates, false)) {}

diffusion_ir_extended_cir::~diffusion_ir_extended_cir() = default;

void diffusion_ir_extended_cir::initial_states(vector<double>& states) const { model_->initial_states(states); }

void diffusion_ir_extended_cir::propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                                          const matrix<double>& draws,
                                          const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states_previous, states);
}

std::uint64_t diffusion_ir_extended_cir::number_of_states() const { return parameters_->number_of_factors() + 1; }

std::uint64_t diffusion_ir_extended_cir::number_of_factors() const { return parameters_->number_of_factors(); }

std::uint64_t diffusion_ir_extended_cir::log_normalized_discounting_index() const {
  return parameters_->number_of_factors();
}

void diffusion_ir_extended_cir::log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
                                       const datetime& T) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  model_->conditional_price(states, t, T, out);
  const double c = discount_curve_->log_df(t, T);
  out = out + c;
}

}  // namespace tarvex
