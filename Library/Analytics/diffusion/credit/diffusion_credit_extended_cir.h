#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/credit/diffusion_credit.h"

namespace tarvex {

class model_extended_cir;
class parameter_extended_cir;

// A default intensity under the extended CIR model built on the simulation dates, reused
// from the rate model: states are the n factors (starting at the parameter set's initial values), then the
// integrated intensity normalised by the model's own survival (row n, starting at 0),
// so that survival probabilities Q(t0, t) exp(-row) average to today's curve.
class diffusion_credit_extended_cir : public diffusion_credit {
 public:
  diffusion_credit_extended_cir(const std::vector<datetime>& dates, const std::shared_ptr<const survival_curve>& curve,
                       const std::shared_ptr<const parameter_extended_cir>& parameters);
  ~diffusion_credit_extended_cir() override;

  void initial_states(vector<double>& states) const override;
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  void log_conditional_survival_probability(vector<double>& out, const matrix<double>& states, const datetime& t,
                                            const datetime& T) const override;
  void survival_probability(vector<double>& out, const matrix<double>& states, const datetime& t) const override;

  const std::shared_ptr<const parameter_extended_cir>& parameters() const { return parameters_; }
  const model_extended_cir& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_extended_cir> parameters_;
  std::shared_ptr<const model_extended_cir> model_;
};

}  // namespace tarvex
