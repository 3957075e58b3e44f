#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

class change_of_measure;
class parameter_extended_cir;

// The multi-factor extended CIR model on a merged grid of model dates (simulation dates
// and every parameter date). Rate or intensity r = sum_f x_f + phi_f with
// dx_f = kappa_f (theta_f - x_f) dt + sigma_f sqrt(x_f) dW_f; bond prices (or survival
// probabilities) are log P(t, T | x) = A(t, T) - sum_f B_f(t, T) x_f, solved interval
// by interval in closed form. Built on a parameter set that must outlive it.
//
// Which parameter row an interval takes: as in model_markovian_hjm, the interval
// (t_{u-1}, t_u] takes the row of the first parameter date not before t_u, so row r
// covers (d_{r-1}, d_r] whatever the simulation grid; after the last date the last row
// continues.
//
// Simulation step (Andersen's quadratic-exponential scheme, 2008): each factor moves to
// a draw whose first two moments equal the exact conditional mean and variance of the
// square-root process over the step, x' = a (b + Z)^2 when the variance is small against
// the squared mean, else a point mass at 0 mixed with an exponential sampled from
// U = Phi(Z). Both branches are non-negative by construction and use the one normal the
// step receives. The integrated rate row accumulates the trapezoid of x over the step
// plus the shift integral and log P(0, t_{k-1}) - log P(0, t_k), so exp(-row) is the
// numeraire normalised by the model's own prices: E[exp(-row)] = 1 up to the scheme's
// bias (second order in the step, measured in the tests).
//
// simulation_coefficients_ (simulation dates x (4F + 2)): per factor the step's
// conditional moments, mean = a + b x and variance = c + e x (columns 4f .. 4f+3), then
// the step's year fraction and the deterministic increment of the integrated row.
class model_extended_cir : public aad_state_parameters_manager {
 public:
  // pricing_only: the grid is the valuation date plus the parameter dates and the
  // simulation tables are not built.
  model_extended_cir(const parameter_extended_cir& parameter, const datetime& valuation_date,
                     const std::vector<datetime>& dates, bool pricing_only);

  const parameter_extended_cir& parameter() const noexcept { return *parameter_; }
  const datetime& valuation_date() const noexcept { return valuation_date_; }
  const std::vector<datetime>& dates() const noexcept { return dates_; }
  const std::vector<datetime>& model_dates() const noexcept { return model_dates_; }
  const matrix<double>& cumulative_decays() const noexcept { return cumulative_decays_; }
  // log P(0, t_j | x(0)) for each simulation date t_j.
  const std::vector<double>& initial_log_prices() const noexcept { return initial_log_prices_; }
  const matrix<double>& simulation_coefficients() const noexcept { return simulation_coefficients_; }
  std::size_t number_of_factors() const noexcept;

  // (A, B) of log P(t, T | x) = A - B.x, carried back from T to t starting from the
  // given terminal (A, B) (zeros for a plain bond); B has one entry per factor.
  void affine(const datetime& t, const datetime& T, double& A, double* B) const;
  // log P(0, t | x(0)) of the model alone.
  double initial_log_price(const datetime& t) const;

  // out[p] = log of P(t, T | x(p)) / (P(0, T) / P(0, t)), the model's own prices from
  // x(0) in the ratio, x(p) the column p of `states` (rows: the factors first).
  void conditional_price(const matrix<double>& states, const datetime& t, const datetime& T,
                         vector<double>& out) const;

  // The initial states of a whole block (F + 1 rows, row-major, flattened): each factor
  // row at its initial value, the integrated rate row at 0.
  void initial_states(vector<double>& states) const;

  // Advances every path from simulation date k-1 to k. States: the F factors, then the
  // integrated rate row; draws: F rows of correlated standard normals, each used as
  // Z - drift(k, f) of the change of measure. `previous` receives the states before the step.
  void simulation_step(const std::shared_ptr<const change_of_measure>& measure_change, std::uint64_t k,
                       const matrix<double>& draws, matrix<double>& previous, matrix<double>& current) const;

  void finalize_aad(double* gradient) const override;
  // Blocks: cumulative decays, initial log prices, simulation coefficients.
  std::size_t get_state_parameters(double* out) const override;
  std::size_t set_state_parameters(const double* in) override;

 private:
  struct rows {
    std::size_t kappa, sigma, shift;
  };
  rows rows_ending_at(const datetime& end) const;
  // Calls visit(rows, start, end) for the pieces of (t, T] cut at the model dates, last first.
  template <class Visit>
  void pieces_backward(const datetime& t, const datetime& T, Visit visit) const;
  void build_simulation_tables();

  const parameter_extended_cir* parameter_;
  datetime valuation_date_;
  std::vector<datetime> dates_;
  bool pricing_only_;
  std::vector<datetime> model_dates_;
  std::vector<std::size_t> dates_index_;
  std::vector<std::size_t> mean_reversion_speeds_index_;
  std::vector<std::size_t> volatilities_index_;
  std::vector<std::size_t> shifts_index_;
  std::vector<double> initial_log_prices_;
  matrix<double> cumulative_decays_;
  matrix<double> simulation_coefficients_;
  std::uint64_t cumulative_decays_offset_ = 0;
  std::uint64_t initial_log_prices_offset_ = 0;
  std::uint64_t simulation_coefficients_offset_ = 0;
};

}  // namespace tarvex
