#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir.h"

namespace tarvex {

class model_black_karasinski;
class parameter_black_karasinski;

// Interest rates under the one-factor Black–Karasinski model built on the simulation
// dates. States: the HJM state x (row 0), then the integrated short rate (row 1).
//
// Today's curve enters neither log_df nor discounting: the model reproduces a curve
// through its levels alone (bootstrap them with
// calibration_credit_black_karasinski::calibrate_discount_level), and adding the
// curve to the conditional price as well would count it twice. So
// E[discounting(t) exp(log_df(t, T))] = E[exp(-int_0^T r)] is the model's P(0, T),
// which is today's curve when the levels were fitted to it.
class diffusion_ir_black_karasinski : public diffusion_ir {
 public:
  diffusion_ir_black_karasinski(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
                                const std::shared_ptr<const parameter_black_karasinski>& parameters);
  ~diffusion_ir_black_karasinski() override;

  void initial_states(vector<double>& states) const override;
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;

  // The model's conditional log price; 0 when t == T.
  void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
              const datetime& T) const override;
  // exp(-y), y the integrated short rate.
  void discounting(vector<double>& out, const matrix<double>& states, const datetime& t) const override;
  std::uint64_t log_normalized_discounting_index() const override;

  const std::shared_ptr<const parameter_black_karasinski>& parameters() const { return parameters_; }
  const model_black_karasinski& model() const { return *model_; }

 private:
  std::shared_ptr<const parameter_black_karasinski> parameters_;
  std::shared_ptr<const model_black_karasinski> model_;
};

}  // namespace tarvex
