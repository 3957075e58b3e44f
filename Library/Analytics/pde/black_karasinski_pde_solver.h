#pragma once
#include <cstddef>
#include <vector>

#include "Util/datetime.h"
#include "Vectorization/vector.h"

namespace tarvex {

class calibration_black_karasinski_settings;
class model_black_karasinski;
class parameter_black_karasinski;

// Survival probabilities (or zero-coupon prices) under the Black–Karasinski model by
// finite differences on a uniform grid of the log-rate's Gaussian part y = g x (g the
// HJM decay, x the undecayed HJM state), an Ornstein–Uhlenbeck process:
//
//   du/ds = 1/2 sigma^2(s) d2u/dy2 - kappa y du/dy - r(s, y) u,
//   r = exp(l(s) + y + g(s) shift(s)),   shift in units of x.
//
// The grid is in y rather than x. The bootstrap sizes the grid with the model's
// variance(), which is the variance of y = g x; x's own standard deviation is larger by
// 1/g = exp(kappa t), so an x grid of that width would cut x's distribution off once
// kappa t is of order 1 (and a grid sized for x at a 30-year pillar could not resolve
// the first years), while in y the width and the spread agree at every date. The price
// is a first-derivative term; it vanishes with the mean reversion, where y = x and the
// two grids coincide (then the nodes' exponentials are taken once).
//
// Each time step is the two-stage L-stable scheme u* = M^-1 u,
// u' = M^-1 ((1 + sqrt2) u* - sqrt2 u), M = 1 - theta dt L, theta = 1 - 1/sqrt2: its
// amplification (1 + sqrt2 theta z) / (1 - theta z)^2 = 1 + z + z^2/2 + O(z^3) is
// second order and tends to 0 for stiff modes, so large steps do not oscillate (it
// tends to 0 from below: stiff modes leave negatives of order 1/|z|, not sign
// changes that grow). Forward mode rolls a density with the transposed steps, the
// exact discrete adjoint, so both modes give the same number on the same grid up to
// rounding. Rows 0 and n-1 keep no neighbours in the backward operator (the grid spans
// several standard deviations, where u hardly moves).
//
// The levels are read afresh at every step from the caller's vector, so a bootstrap can
// change one level and solve again without rebuilding. All n-vectors are allocated in
// the constructor; a step allocates nothing.
//
// A step's matrix M is factorised once and kept while the next steps' coefficients are
// equal (a weekly grid with constant parameters gives the same M on every step of a
// level interval). Stage one solves with M = LU, stage two with M = UL: stage one's
// back substitution and stage two's first sweep then both run from the top node down,
// in one pass whose two recurrences overlap, and every recurrence is a single
// multiply-add per two nodes (below); stage two's last sweep runs with the next step's
// first when the two share the matrix, so a step costs two passes over the nodes. Step variances and mean-reversion terms that differ from the
// previous step's by rounding only (1e-12 relative) are set equal to it, so the kept
// factorisation does not depend on the order in which steps are taken.
class black_karasinski_pde_solver {
 public:
  // The time grid runs from the valuation date to the last calibration date and holds
  // every calibration date (the settings' step, period and minimum step); `levels` and
  // `parameter` must outlive the solver.
  black_karasinski_pde_solver(const datetime& valuation_date, std::vector<double>& levels,
                              const parameter_black_karasinski& parameter,
                              const std::vector<datetime>& calibration_dates,
                              const calibration_black_karasinski_settings& settings);

  // Takes the step variances (of y: (g sv)^2) and decays of a model built on time_grid().
  void update(const model_black_karasinski& model);
  // Replaces the state shift per grid date (empty: no shift).
  void update(const std::vector<double>& shifts);
  // Rebuilds the grid: pde_span standard deviations std_dev of y on each side of 0.
  void update_states(double std_dev);
  // Makes result() a view on the caller's vector (same size; not freed here).
  void initial_result(const vector<double>& values);
  // Probability of survival to the k-th level date: the mass left after rolling a unit
  // mass at the centre node forward (forward mode), or the value at x = 0 after rolling
  // 1 back from that date (backward mode; without reset the roll starts from result()).
  // Forward mode keeps the density on the (k-1)-th level date: while the grid, the
  // shifts and the levels before that date stay as they were, the next call for k
  // rolls only the last interval (a bootstrap's root search varies level k-1 alone).
  double survival_probability(std::size_t k, bool reset);

  const std::vector<datetime>& time_grid() const noexcept { return dates_; }
  const vector<double>& result() const noexcept { return result_; }
  const vector<double>& states() const noexcept { return states_; }
  std::size_t size() const noexcept { return size_; }
  // Grid index of each level date.
  const std::vector<std::size_t>& levels_dates_index() const noexcept { return levels_dates_index_; }

 private:
  // Takes grid step i. With swept, the previous call already ran this step's first
  // sweep. When step `next` (0: none) has the same matrix, its first sweep runs in this
  // step's last pass, and the return is true: pass it as swept to that step's call.
  bool step(std::size_t i, std::size_t next, bool swept);
  // The step's off-diagonal a, convection b and rate factor.
  void coefficients(std::size_t i, double& a, double& b, double& rate_factor) const;
  bool factorised_for(double a, double b, double rate_factor) const {
    return factorised_ && a == factored_a_ && b == factored_b_ && rate_factor == factored_rate_;
  }
  void factorise(double a, double b, double rate_factor);

  const parameter_black_karasinski& parameter_;
  std::vector<double>& levels_;
  std::size_t size_;
  vector<double> diagonal_;
  vector<double> states_;
  vector<double> elimination_factors_;
  vector<double> previous_;
  vector<double> result_;
  vector<double> exp_states_;  // exp(y) per node
  // The factorisations of the step's system (M or its transpose), sub- and
  // super-diagonals lo, up: LU with pivots p (diagonal_ holds 1/p, lower_ lo/p, and
  // elimination_factors_ up/p) and UL with pivots e (inverse_pivots_ 1/e, upper_ up/e,
  // ul_factors_ lo/e).
  vector<double> lower_;
  vector<double> upper_;
  vector<double> inverse_pivots_;
  vector<double> ul_factors_;
  // Products of neighbouring multipliers (lower_ j and j-1, elimination_factors_ and
  // upper_ j and j+1, ul_factors_ j and j-1): each recurrence advances two nodes per
  // multiply-add, z_j = r_j - m_j r_{j-1} + m_j m_{j-1} z_{j-2}, on two chains that
  // overlap.
  vector<double> lower_pairs_;
  vector<double> elimination_pairs_;
  vector<double> upper_pairs_;
  vector<double> ul_pairs_;
  // The coefficients the factorisations were made with; factorised_ false after a
  // change of grid or model.
  double factored_a_ = 0.0, factored_b_ = 0.0, factored_rate_ = 0.0;
  bool factorised_ = false;
  // Forward mode's density at grid index checkpoint_index_ and the levels it used.
  vector<double> checkpoint_;
  std::size_t checkpoint_index_ = 0;
  std::vector<double> checkpoint_levels_;
  double pde_span_;
  double scaled_theta_ = 0.0;
  double spacing_ = 0.0;
  bool backward_;
  bool lognormal_states_ = false;
  std::vector<double> variances_;
  std::vector<double> log_decay_ratios_;  // ln(g_{i-1} / g_i) = kappa dt per step
  std::vector<double> decay_factors_;
  std::vector<datetime> dates_;
  std::vector<double> step_lengths_;
  std::vector<double> shifts_;
  std::vector<std::size_t> levels_offsets_;
  std::vector<std::size_t> levels_dates_index_;
};

}  // namespace tarvex
