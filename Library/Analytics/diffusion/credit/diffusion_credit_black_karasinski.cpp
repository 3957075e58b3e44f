#include "Analytics/diffusion/credit/diffusion_credit_black_karasinski.h"

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

diffusion_credit_black_karasinski::diffusion_credit_black_karasinski(
    const std::vector<datetime>& dates, const std::shared_ptr<const survival_curve>& curve,
    const std::shared_ptr<const parameter_black_karasinski>& parameters)
    : diffusion_credit(dates, curve),
      parameters_(parameters),
      model_(std::make_shared<const model_black_karasinski>(checked(parameters), dates.front(), dates, false)) {}

diffusion_credit_black_karasinski::~diffusion_credit_black_karasinski() = default;

void diffusion_credit_black_karasinski::initial_states(vector<double>& states) const { states.fill(0.0); }

void diffusion_credit_black_karasinski::propagate(matrix<double>& states, matrix<double>& states_previous,
                                                  std::uint64_t step, const matrix<double>& draws,
                                                  const std::shared_ptr<const change_of_measure>& measure_change) const {
  model_->simulation_step(measure_change, step, draws, states_previous, states);
}

std::uint64_t diffusion_credit_black_karasinski::number_of_states() const {
  return parameters_->number_of_factors() + 1;
}

std::uint64_t diffusion_credit_black_karasinski::number_of_factors() const {
  return parameters_->number_of_factors();
}

void diffusion_credit_black_karasinski::log_conditional_survival_probability(vector<double>& out,
                                                                             const matrix<double>& states,
                                                                             const datetime& t,
                                                                             const datetime& T) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  model_->conditional_price(states, t, T, out);
}

void diffusion_credit_black_karasinski::survival_probability(vector<double>& out, const matrix<double>& states,
                                                             const datetime&) const {
  details::check_size(states.columns(), out.size());
  const double* y = states.row_data(parameters_->number_of_factors());
  for (std::size_t p = 0; p < out.size(); ++p) out[p] = std::exp(-y[p]);
}

}  // namespace tarvex
