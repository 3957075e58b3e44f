#include "Analytics/diffusion/ir/diffusion_ir_black_karasinski.h"

#include <cmath>

#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Core/check.h"

namespace tarvex {
namespace {
const parameter_black_karasinski& checked(const std::shared_ptr<const parameter_black_karasinski>& p) {
  TARVEX_CHECK(p != nullptr, "Black-Karasinski diffusion needs a parameter set");
  return *p;
}
}  // namespace

diffusion_ir_black_karasinski::diffusion_ir_black_karasinski(
    const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
    const std::shared_ptr<const parameter_black_karasinski>& parameters)
    : diffusion_ir(dates, curve),
      parameters_(parameters),
      model_(std::make_shared<const model_black_karasinski>(checked(parameters), dates.front(), dates, false)) {}

diffusion_ir_black_karasinski::~diffusion_ir_black_karasinski() = default;

void diffusion_ir_black_karasinski::initial_states(vector<double>& states) const { states.fill(0.0); }

void diffusion_ir_black_karasinski::propagate(matrix<double>& states, matrix<double>& states_previous,
                                              std::uint64_t step, const matrix<double>& draws,
                                              const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states_previous, states);
}

std::uint64_t diffusion_ir_black_karasinski::number_of_states() const { return parameters_->number_of_factors() + 1; }

std::uint64_t diffusion_ir_black_karasinski::number_of_factors() const { return parameters_->number_of_factors(); }

std::uint64_t diffusion_ir_black_karasinski::log_normalized_discounting_index() const {
  return parameters_->number_of_factors();
}

void diffusion_ir_black_karasinski::log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
                                           const datetime& T) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  model_->conditional_price(states, t, T, out);
}

void diffusion_ir_black_karasinski::discounting(vector<double>& out, const matrix<double>& states,
                                                const datetime&) const {
  details::check_size(states.columns(), out.size());
  const double* y = states.row_data(log_normalized_discounting_index());
  for (std::size_t p = 0; p < out.size(); ++p) out[p] = std::exp(-y[p]);
}

}  // namespace tarvex
