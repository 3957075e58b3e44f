#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/fx/diffusion_fx.h"

namespace tarvex {

class model_lognormal;
class parameter_lognormal;

// An exchange rate (domestic per foreign) under the lognormal model, with the
// deterministic drift of today's two curves added each step. The state starts at
// ln(spot), so the published spot exp(state - f + d) is today's rate at the first date.
// Simulated under the domestic money-market measure: foreign diffusions that share the
// run need the quanto correction (quanto_change_of_measure).
class diffusion_fx_lognormal : public diffusion_fx {
 public:
  diffusion_fx_lognormal(const std::vector<datetime>& dates, const std::shared_ptr<const fx_spot>& spot,
                         const std::shared_ptr<const discount_curve>& domestic,
                         const std::shared_ptr<const discount_curve>& foreign,
                         const std::shared_ptr<const parameter_lognormal>& parameters);
  ~diffusion_fx_lognormal() override;

  void initial_states(vector<double>& states) const override;
  // The lognormal step, then plus ln P_foreign - ln P_domestic over the step; the
  // previous block is not touched (the published spots live there).
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  const std::shared_ptr<const parameter_lognormal>& parameters() const { return parameters_; }
  const model_lognormal& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_lognormal> parameters_;
  std::shared_ptr<const model_lognormal> model_;
};

}  // namespace tarvex
