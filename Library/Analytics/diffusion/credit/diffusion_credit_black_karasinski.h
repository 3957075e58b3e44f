#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/credit/diffusion_credit.h"

namespace tarvex {

class model_black_karasinski;
class parameter_black_karasinski;

// A default intensity under the one-factor Black–Karasinski model built on the
// simulation dates. States: the HJM state x (row 0), the integrated intensity (row 1).
// As for rates, today's survival curve is reproduced by the levels (bootstrap them
// with calibration_credit_black_karasinski) and enters no operation here.
class diffusion_credit_black_karasinski : public diffusion_credit {
 public:
  diffusion_credit_black_karasinski(const std::vector<datetime>& dates,
                                    const std::shared_ptr<const survival_curve>& curve,
                                    const std::shared_ptr<const parameter_black_karasinski>& parameters);
  ~diffusion_credit_black_karasinski() override;

  void initial_states(vector<double>& states) const override;
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  // The model's conditional log survival probability; 0 when t == T.
  void log_conditional_survival_probability(vector<double>& out, const matrix<double>& states, const datetime& t,
                                            const datetime& T) const override;
  // exp(-integrated intensity).
  void survival_probability(vector<double>& out, const matrix<double>& states, const datetime& t) const override;

  const std::shared_ptr<const parameter_black_karasinski>& parameters() const { return parameters_; }
  const model_black_karasinski& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_black_karasinski> parameters_;
  std::shared_ptr<const model_black_karasinski> model_;
};

}  // namespace tarvex
