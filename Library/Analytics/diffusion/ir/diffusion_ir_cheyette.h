#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir.h"

namespace tarvex {

class model_cheyette;
class parameter_cheyette;

// Interest rates under the Cheyette model built on the simulation dates. States: the
// n(n + 3) rows of model_cheyette (factor states, auxiliary variances, workspace rows,
// the log normalised discount factor at row n(n + 2), spare rows).
class diffusion_ir_cheyette : public diffusion_ir {
 public:
  diffusion_ir_cheyette(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
                        const std::shared_ptr<const parameter_cheyette>& parameters);
  ~diffusion_ir_cheyette() override;

  void initial_states(vector<double>& states) const override;
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
              const datetime& T) const override;
  std::uint64_t log_normalized_discounting_index() const override;

  const std::shared_ptr<const parameter_cheyette>& parameters() const { return parameters_; }
  const model_cheyette& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_cheyette> parameters_;
  std::shared_ptr<const model_cheyette> model_;
};

}  // namespace tarvex
