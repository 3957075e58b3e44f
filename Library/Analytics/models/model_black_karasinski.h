#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

class change_of_measure;
class model_markovian_hjm;
class pde_model_coefficients;
class space_grid;

// The one-factor Black–Karasinski model on a date grid: the rate (or default
// intensity) r(s) = exp(l(s) + g(s) x(s)), x the state of the one-factor Markovian HJM
// model built on the same dates (undecayed, so g x is an Ornstein–Uhlenbeck process),
// g its decay and l the parameter set's piecewise-constant level.
//
// Conditional prices E[exp(-int_t^T r) | x(t)] come from karhunen_loeve_expansion
// (Math; method and error bound there) with the parameter set's step length and
// Gauss–Hermite order. The model does not add today's curve anywhere: a curve is
// reproduced by the levels alone (bootstrapped, calibration_credit_black_karasinski).
//
// States of a simulation: row 0 the HJM state x, row 1 the integrated rate
// y = int r from the first date, by the trapezoidal rule on the simulation dates.
// The parameter set must outlive the model.
class model_black_karasinski : public aad_state_parameters_manager {
 public:
  model_black_karasinski(const parameter_black_karasinski& parameter, const datetime& valuation_date,
                         const std::vector<datetime>& dates, bool flag);
  ~model_black_karasinski() override;

  // out[p] = ln E[exp(-int_t^T r) | x(t) = states(0, p)]; zeros when t == T.
  void conditional_price(const matrix<double>& states, const datetime& t, const datetime& T,
                         vector<double>& out) const;
  // The same on the nodes of grids[0]; `out` holds one value per node.
  void conditional_price(double* out, const std::shared_ptr<const space_grid>* grids, const datetime& t,
                         const datetime& T) const;
  // Var[g(t) x(t)]: the Ornstein–Uhlenbeck closed form on the piecewise-constant volatility.
  double variance(const datetime& t) const;
  // Backward-equation coefficients of [t, T] on grids[0]: no convection, diffusion
  // v^2 / 2 (v the HJM state's standard deviation over the step ending at T, T a grid
  // date), reaction minus the trapezoid of r over the step with the level of t.
  void coefficients(const std::shared_ptr<const pde_model_coefficients>* coefficients,
                    const std::shared_ptr<const space_grid>* grids, const datetime& t, const datetime& T) const;
  // Advances every path from date j-1 to date j (j >= 1); `previous` receives the
  // states before the step. Allocates nothing once `previous` has storage.
  void simulation_step(const std::shared_ptr<const change_of_measure>& measure_change, std::uint64_t j,
                       const matrix<double>& draws, matrix<double>& previous, matrix<double>& states) const;

  // Decay g(t) of the HJM part.
  double decay(const datetime& t) const;
  const model_markovian_hjm& hjm_model() const noexcept { return *hjm_model_; }
  const parameter_black_karasinski& parameter() const noexcept { return parameter_; }
  const std::vector<datetime>& dates() const noexcept { return dates_; }
  bool flag() const noexcept { return flag_; }
  std::size_t number_of_factors() const noexcept { return parameter_.number_of_factors(); }
  // x, then the integrated rate.
  std::size_t number_of_states() const noexcept { return number_of_factors() + 1; }
  const vector<double>& roots() const noexcept { return roots_; }
  const vector<double>& weights() const noexcept { return weights_; }
  const std::vector<double>& levels_times() const noexcept { return levels_times_; }
  double time_step() const noexcept { return time_step_; }
  std::size_t levels_offset() const noexcept { return levels_offset_; }

  void finalize_aad(double* gradient) const override;
  // The inner HJM model's vector, then the level times.
  std::size_t get_state_parameters(double* out) const override;
  std::size_t set_state_parameters(const double* in) override;

 private:
  double time(const datetime& d) const;
  void conditional_values(const vector<double>& x, const datetime& t, const datetime& T, vector<double>& out) const;
  std::size_t grid_index(const datetime& d) const;

  const parameter_black_karasinski& parameter_;
  datetime valuation_date_;
  std::vector<datetime> dates_;
  bool flag_;
  std::unique_ptr<model_markovian_hjm> hjm_model_;
  vector<double> roots_;
  vector<double> weights_;
  std::vector<double> levels_times_;
  std::vector<double> volatilities_square_;
  std::vector<double> volatilities_times_;
  double time_step_ = 0.0;
  std::vector<std::size_t> levels_index_;
  std::uint64_t levels_offset_ = 0;
};

}  // namespace tarvex
