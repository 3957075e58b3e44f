#include "Analytics/diffusion/ir/diffusion_ir_cheyette.h"

#include "Analytics/models/model_cheyette.h"
#include "Analytics/parameters/parameter_cheyette.h"
#include "Core/check.h"
#include "Market/discount_curve.h"

namespace tarvex {
namespace {
const parameter_cheyette& checked(const std::shared_ptr<const parameter_cheyette>& p) {
  TARVEX_CHECK(p != nullptr, "Cheyette diffusion needs a parameter set");
  return *p;
}
}  // namespace

// The model holds the dates by reference: it is given the copy this object keeps.
diffusion_ir_cheyette::diffusion_ir_cheyette(const std::vector<datetime>& dates,
                                             const std::shared_ptr<const discount_curve>& curve,
                                             const std::shared_ptr<const parameter_cheyette>& parameters)
    : diffusion_ir(dates, curve),
      parameters_(parameters),
      model_(std::make_shared<const model_cheyette>(checked(parameters), dates.front(), this->dates(), false,
                                                    false)) {}

diffusion_ir_cheyette::~diffusion_ir_cheyette() = default;

void diffusion_ir_cheyette::initial_states(vector<double>& states) const { states.fill(0.0); }

void diffusion_ir_cheyette::propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                                      const matrix<double>& draws,
                                      const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states_previous, states);
}

std::uint64_t diffusion_ir_cheyette::number_of_states() const {
  const std::size_t n = parameters_->number_of_factors();
  return n * (n + 3);
}

std::uint64_t diffusion_ir_cheyette::number_of_factors() const { return parameters_->number_of_factors(); }

std::uint64_t diffusion_ir_cheyette::log_normalized_discounting_index() const {
  const std::size_t n = parameters_->number_of_factors();
  return n * (n + 2);
}

void diffusion_ir_cheyette::log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
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
