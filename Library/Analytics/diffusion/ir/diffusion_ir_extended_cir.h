#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir.h"

namespace tarvex {

class model_extended_cir;
class parameter_extended_cir;

// Interest rates under the extended CIR model built on the simulation dates. States:
// the n factors (rows 0 … n-1, starting at the parameter set's initial values), then
// the log normalised discount factor (row n, starting at 0).
class diffusion_ir_extended_cir : public diffusion_ir {
 public:
  diffusion_ir_extended_cir(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
                            const std::shared_ptr<const parameter_extended_cir>& parameters);
  ~diffusion_ir_extended_cir() override;

  void initial_states(vector<double>& states) const override;
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
              const datetime& T) const override;
  std::uint64_t log_normalized_discounting_index() const override;

  const std::shared_ptr<const parameter_extended_cir>& parameters() const { return parameters_; }
  const model_extended_cir& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_extended_cir> parameters_;
  std::shared_ptr<const model_extended_cir> model_;
};

}  // namespace tarvex
