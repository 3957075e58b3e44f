#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/tensor.h"
#include "Vectorization/vector.h"

namespace tarvex {

class change_of_measure;
class space_grid;
class pde_model_coefficients;

// The Gaussian Markovian HJM model on a merged grid of model dates: per factor the
// decay factor D, its running integral I, the state covariance C, and on simulation
// dates the per-step standard deviations of the states (sv) and of the money-market
// integrals (mm). Built on a parameter set that must outlive it.
//
// States: mean_reversion x_f(t) = int_0^t sigma_f/D_f dW_f (undecayed, so increments are
// independent); decay_factor x_f(t) = int_0^t sigma_f dW_f.
//
// Which parameter row a model interval takes: the rule of parameter_markovian_hjm.h (row
// r covers (d_{r-1}, d_r]), applied to decays and volatilities separately. Every parameter
// date is a model date, so each interval (t_i, t_{i+1}] lies inside one stretch of each
// list and takes, per list, the row of the first date not before t_{i+1}; cutting the grid
// finer (monthly simulation dates) changes no interval's rows.
//
// The grid starts at the valuation date (or the first simulation date, if earlier):
// parameter dates before it are dropped and nothing accrues before it, so C is 0 there
// even for a set calibrated at an earlier date.
//
// Fast decay: I(t) converges as D(t) falls, and once D(s) < epsilon I(T) - I(s) rounds
// to 0 while C(s) grows like 1/D(s)^2. Increments of I (conditional prices, decompose's
// subtracted start, the step's Delta I) are therefore integrated over [s, T] directly
// (tail integrals on the grid, expm1 forms in between), never formed as differences, and
// so is the step's money-market loading u = mm - I sv. What remains is the representation's own limit: the state's mean grows
// like 1/D^2 against a spread like 1/D, so once D(s) nears epsilon a double no longer
// resolves a simulated state about its mean.
//
// Dates after the last model date: a step from the last model date to t takes the rows
// that govern t, which are the last rows (nothing after the last parameter date can
// change them), so the dated parameters simply continue flat; nothing is read past the
// grid. Dates before the grid, or on a model date, integrate nothing.
//
// Small decay rates: the closed forms of the money-market variance and the drift lose
// digits like 1/(kappa tau)^2; below |kappa tau| = 0.1 their power series are summed
// (see hjm_integrals.h), which agrees with the closed forms in exact arithmetic.
class model_markovian_hjm : public aad_state_parameters_manager {
 public:
  // Grid: the valuation date alone (analytic) or the simulation dates (plus the
  // valuation date in front when needed), merged with the parameter and additional dates.
  model_markovian_hjm(const parameter_markovian_hjm& parameter, const datetime& valuation_date,
                      const std::vector<datetime>& simulation_dates, bool analytic_mode,
                      const std::vector<datetime>& additional_dates);

  // Recomputes D, I, sv, mm and C from the parameter set's current numbers.
  void refresh();

  const parameter_markovian_hjm& parameter() const noexcept { return *parameter_; }
  const datetime& valuation_date() const noexcept { return valuation_date_; }
  const std::vector<datetime>& simulation_dates() const noexcept { return simulation_dates_; }
  bool analytic_mode() const noexcept { return analytic_mode_; }
  const std::vector<datetime>& model_dates() const noexcept { return model_dates_; }
  const std::vector<std::size_t>& decay_index() const noexcept { return decay_index_; }
  const std::vector<std::size_t>& volatility_index() const noexcept { return volatility_index_; }
  const std::vector<std::size_t>& simulation_index() const noexcept { return simulation_index_; }
  const matrix<double>& decay() const noexcept { return decay_; }
  const matrix<double>& integral_decay() const noexcept { return integral_decay_; }
  const matrix<double>& incremental_volatility_sv() const noexcept { return incremental_volatility_sv_; }
  const matrix<double>& incremental_volatility_mm() const noexcept { return incremental_volatility_mm_; }
  const tensor<double>& covariance() const noexcept { return covariance_; }
  std::size_t number_of_factors() const noexcept { return parameter_->number_of_factors(); }
  // Model time of a date: the parameter set's year fraction from the valuation date.
  double time(const datetime& t) const;

  // Index of the last model date not after t (0 before the grid).
  std::size_t date_offset(const datetime& t) const;

  // D at t, stepping from model date i.
  void decay(const datetime& t, std::size_t i, vector<double>& out) const;
  // I at t.
  void integral_decay(const datetime& t, vector<double>& out) const;
  // C at t (n x n).
  void states_variable_covariance(const datetime& t, matrix<double>& out) const;
  // Row j: loadings of log P(t, dates[j]) on n independent normals at t (out sized by
  // the caller: one row per date, n columns).
  void decompose(matrix<double>& out, const datetime& t, const std::vector<datetime>& dates,
                 bool subtract_start) const;
  // Mean mu(t) of the states under the money-market measure (cross-factor terms
  // included), from the last refresh.
  void state_drift(const datetime& t, vector<double>& out) const;
  // Standard deviations of each state's increment between consecutive dates of `dates`
  // (dates on the grid; out sized by the caller).
  void incremental_volatility_sv(const std::vector<datetime>& dates, matrix<double>& out) const;
  // The same for each factor's money-market integral.
  void incremental_volatility_mm(const std::vector<datetime>& dates, matrix<double>& out) const;

  // out[p] = log of P(s, T) / (P(0, T)/P(0, s)) given states(., p) at the model date s.
  // The two path loops (this and simulation_step) start on a cache line so that their
  // speed does not move with the size of unrelated code in front of them.
  [[gnu::aligned(64)]] void conditional_price(const matrix<double>& states, const datetime& s, const datetime& T,
                         vector<double>& out) const;
  // The same on the nodes of the PDE grids (PDE variable y = x - mu(s)).
  void conditional_price(double* out, const std::vector<std::shared_ptr<const space_grid>>& grids,
                         const datetime& s, const datetime& T) const;
  // Backward-equation coefficients of every factor for the step from `from` to `to`, each
  // integrated over the step: reaction = minus the trapezoidal integral of r - f(0, t)
  // (its state-free part split equally between factors), no convection (y is driftless),
  // diffusion = half the variance the state accrues over the step. Needs a model built for
  // simulation whose model dates are its simulation dates; others are refused.
  void coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                    const std::vector<std::shared_ptr<const space_grid>>& grids, const datetime& from,
                    const datetime& to) const;

  // Advances every path from simulation date k-1 to k. States have n + 1 rows (the
  // factor states, then the log normalised discount factor y), one column per path;
  // draws hold n rows of correlated standard normals. `previous` receives the states
  // before the step. Allocates nothing once `previous` has storage.
  [[gnu::aligned(64)]] void simulation_step(const std::shared_ptr<const change_of_measure>& measure_change, std::uint64_t k,
                       const matrix<double>& draws, matrix<double>& previous, matrix<double>& current) const;

  // --- adjoints -------------------------------------------------------------------
  // Gradient arrays hold the parameter set's entries first (its own layout positions),
  // then the model's blocks: a buffer of state_parameters_size() doubles serves both.
  // Each _aad operation receives the adjoint of the plain operation's output and adds
  // into the model's blocks and the parameter set's entries; fill_aad then carries the
  // model-block adjoints down to the parameter set's decays, volatilities and correlation.

  // Adjoint of decay(t, i, out); `value` is the row decay(t, i) returned.
  void decay_aad(const vector<double>& adjoint, const vector<double>& value, const datetime& t, std::size_t i,
                 double* gradient) const;
  // Adjoint of integral_decay(t, out).
  void integral_decay_aad(const vector<double>& adjoint, const datetime& t, double* gradient) const;
  // Adjoint of states_variable_covariance(t, out).
  void states_variable_covariance_aad(const matrix<double>& adjoint, const datetime& t, double* gradient) const;
  // Adjoint of incremental_volatility_sv(dates, value).
  void incremental_volatility_sv_aad(const matrix<double>& adjoint, const matrix<double>& value,
                                     const std::vector<datetime>& dates, double* gradient) const;
  // Adjoint of incremental_volatility_mm(dates, value).
  void incremental_volatility_mm_aad(const matrix<double>& adjoint, const matrix<double>& value,
                                     const std::vector<datetime>& dates, double* gradient) const;
  // Adjoint of decompose(out, t, dates, subtract_start).
  void decompose_aad(const matrix<double>& adjoint, const datetime& t, const std::vector<datetime>& dates,
                     double* gradient, bool subtract_start) const;
  // Moves the adjoints held on the model's blocks to the parameter set's entries.
  void fill_aad(double* gradient) const;

  void finalize_aad(double* gradient) const override;
  // Blocks: decay, integral_decay, [sv, mm when simulating], covariance.
  std::size_t get_state_parameters(double* out) const override;
  std::size_t set_state_parameters(const double* in) override;

 private:
  struct step_rows {
    std::size_t decay, volatility;
  };
  step_rows rows_after(std::size_t i) const;
  double kappa(const step_rows& r, std::size_t f) const;
  double sigma(const step_rows& r, std::size_t f) const;
  double rho(std::size_t a, std::size_t b) const;

  void refresh_tail_integral(bool recompute);
  double grid_increment(std::size_t k, std::size_t j, std::size_t f) const;
  void add_integral_piece(std::size_t k, const datetime& a, const datetime& b, double* out) const;
  // int_s^T D per factor (n entries; negative when T < s), without forming I(T) - I(s).
  void integral_increment(const datetime& s, const datetime& T, double* out) const;
  void add_increment_from(std::size_t k, std::size_t kT, const datetime& T, double* out) const;
  void decay_step(std::size_t i, const datetime& t, double* out) const;
  void integral_step(std::size_t i, const datetime& t, double* out) const;
  void covariance_step(std::size_t i, const datetime& t, double* out) const;
  void drift_step(std::size_t j, const datetime& a, const datetime& b, double* out) const;
  template <class Variance>
  void incremental_walk(const std::vector<datetime>& dates, matrix<double>& out, Variance variance) const;
  void prepare_simulation_steps();
  double money_market_shortfall(std::size_t jp, std::size_t j, std::size_t f) const;
  template <class Self, class Visit>
  static void for_each_block(Self& self, Visit visit);
  double* covariance_slice(std::size_t i) { return covariance_.data() + i * number_of_factors() * number_of_factors(); }
  const double* covariance_slice(std::size_t i) const {
    return covariance_.data() + i * number_of_factors() * number_of_factors();
  }

  const parameter_markovian_hjm* parameter_;
  datetime valuation_date_;
  std::vector<datetime> simulation_dates_;
  bool analytic_mode_;
  std::vector<datetime> additional_dates_;
  std::vector<datetime> model_dates_;
  std::vector<std::size_t> decay_index_;
  std::vector<std::size_t> volatility_index_;
  std::vector<std::size_t> simulation_index_;
  matrix<double> decay_;
  matrix<double> integral_decay_;
  matrix<double> incremental_volatility_sv_;
  matrix<double> incremental_volatility_mm_;
  tensor<double> covariance_;
  std::uint64_t decay_offset_ = 0;
  std::uint64_t integral_decay_offset_ = 0;
  std::uint64_t incremental_volatility_sv_offset_ = 0;
  std::uint64_t incremental_volatility_mm_offset_ = 0;
  std::uint64_t covariance_offset_ = 0;

  // Private helpers of the adjoint operations (model_markovian_hjm_aad.cpp) go here.
  // Adjoints of the steps from model date i to t: `adjoint` is that of the step's output
  // (n entries, n x n row-major for the covariance), `value` the decay step's output.
  void decay_step_aad(std::size_t i, const datetime& t, const double* adjoint, const double* value,
                      double* gradient) const;
  void integral_step_aad(std::size_t i, const datetime& t, const double* adjoint, double* gradient) const;
  void covariance_step_aad(std::size_t i, const datetime& t, const double* adjoint, double* gradient) const;
  // Walks the intervals as incremental_walk does, handing each interval the adjoint of
  // its variance (the square root differentiated).
  template <class VarianceAad>
  void incremental_walk_aad(const std::vector<datetime>& dates, const matrix<double>& adjoint,
                            const matrix<double>& value, VarianceAad variance_aad) const;
  // Gradient entries of the parameter set's decay (row, f), volatility (row, f) and
  // correlation (a, b), a != b.
  void add_decay_aad(std::size_t row, std::size_t f, double value, double* gradient) const;
  void add_volatility_aad(std::size_t row, std::size_t f, double value, double* gradient) const;
  void add_correlation_aad(std::size_t a, std::size_t b, double value, double* gradient) const;

  // Per simulation step, derived in refresh so the step itself only streams over paths:
  // Delta I, u = mm - I o sv, c = sv o (rho mm) (s x n each) and q (s).
  matrix<double> step_delta_;
  matrix<double> step_u_;
  matrix<double> step_c_;
  vector<double> step_q_;
  std::vector<double> times_;  // model time of each model date
  // E x on every model date under the money-market measure, summed in refresh (it is not
  // part of the state-parameter blocks: set_state_parameters leaves it as it was).
  matrix<double> drift_;
  // S(i) = int_{t_i}^{t_{m-1}} D: increments of I read off it keep their digits after D
  // has decayed below epsilon (grid_increment).
  matrix<double> tail_integral_;
};

// Conditional discount factors at the point x of the factor space from the loadings
// of decompose (row 0 is the reference bond) and today's discount factors.
void model_dfs(std::vector<double>& out, const vector<double>& x, const matrix<double>& loadings,
               const std::vector<double>& initial);

}  // namespace tarvex
