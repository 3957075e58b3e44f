#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/equity/diffusion_equity.h"

namespace tarvex {

class model_lognormal;
class parameter_lognormal;

// An equity spot under the lognormal model, with the deterministic drift of today's
// domestic curve added each step. The state starts at ln(spot), so the published spot
// exp(state + d) is today's spot at the first date and S(t) P(0, t) exp(-d) /
// S(0) is a martingale under the domestic money-market measure (d the domestic
// curve's log normalised discounting state).
class diffusion_equity_lognormal : public diffusion_equity {
 public:
  diffusion_equity_lognormal(const std::vector<datetime>& dates, double spot,
                             const std::shared_ptr<const discount_curve>& domestic,
                             const std::shared_ptr<const parameter_lognormal>& parameters);
  ~diffusion_equity_lognormal() override;

  void initial_states(vector<double>& states) const override;
  // The lognormal step, then minus the domestic log discount factor over the step; the
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
