#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir.h"

namespace tarvex {

class model_markovian_hjm;
class parameter_markovian_hjm;
class space_grid;
class pde_model_coefficients;

// Interest rates under the Markovian HJM model for the PDE driver: one space grid per
// factor in the decayed variable z_f = s_f(t) (x_f - mu_f(t)), mu the exact mean of the
// states and s_f the factor's decay D_f for mean-reverting factors (1 for decay-factor
// ones, whose states spread like sqrt(t) already). Its states are the grid nodes (rows
// 0 … n-1 hold each node's z per factor, row n a zero numeraire row, so that discounting
// is today's curve: the PDE solution is the value times P(0, t)); log_df reads the node
// as x = z / s(t) + mu(t), so the simulated curve answers ln P(t, T) on every node. The
// model is built for simulation on the dates handed in merged with the parameter dates,
// so its model dates are its simulation dates. It does not simulate paths.
//
// Why z: the undecayed state x_f = int sigma_f / D_f dW_f spreads like e^{kappa_f t}, so
// with a fast factor a grid wide enough for the last exercise has no node inside the
// spread of the first. z_f(t) = int_0^t sigma_f D_f(t) / D_f(u) dW_f is an
// Ornstein-Uhlenbeck state, its variance bounded (below sigma^2 / (2 kappa) when the
// parameters are constant).
//
// The equation in z, from the model's (the states' drift under the money-market measure
// is deterministic, so it is mu' and y = x - mu is a martingale with covariance rate
// C'(t); the discount rate is r - f(0, t) = sum_f D_f (y_f + mu_f) + D'C I):
//   dz_f = (s_f' / s_f) z_f dt + s_f dy_f,
// so over a step [t1, t2] with z held (the coefficients are integrated over the step):
//   convection_f = ln(s_f(t2) / s_f(t1)) z_f           (-kappa_f tau z_f at constant kappa),
//   diffusion_f  = 1/2 int s_f^2 dC_ff = 1/2 s_f(t1) s_f(t2) (C_ff(t2) - C_ff(t1)) l / sinh l,
//                  l = ln(s_f(t1) / s_f(t2)): exact for a mean-reverting factor with kappa
//                  and sigma constant over the step (s^2 C' = sigma^2 then), and 1 where s = 1,
//   correlation  : the schemes' rho sqrt(var_a var_b) is exact on the same terms
//                  (s_a s_b C'_ab = rho sigma_a sigma_b),
//   reaction     : the state part - int D_f y_f dt = - int (D_f / s_f) z_f dt, by the
//                  trapezoid (- tau z_f for mean-reverting factors, exactly); the
//                  state-free part is the model's.
// The model's own coefficients are those of y, on a grid it reads as y: the diffusion
// takes them on the z nodes and changes variable node by node.
class diffusion_ir_markovian_hjm_pde : public diffusion_ir {
 public:
  diffusion_ir_markovian_hjm_pde(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
                                 const std::shared_ptr<const parameter_markovian_hjm>& parameters,
                                 const std::vector<std::shared_ptr<const space_grid>>& grids);
  ~diffusion_ir_markovian_hjm_pde() override;

  void initial_states(vector<double>& states) const override;
  // Not served: this diffusion only feeds the PDE driver.
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;
  // ln P(t, T) at the nodes whose z the states hold.
  void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
              const datetime& T) const override;
  std::uint64_t log_normalized_discounting_index() const override;
  // The coefficients of z (above) on this diffusion's grids (factor f on grid f; with two
  // or three factors each is spread over the product grid, grid 0 fastest). Not
  // thread-safe: uses buffers of the diffusion.
  void coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out, const datetime& from,
                    const datetime& to) const override;

  // Covariance of z at t (n x n), s_a s_b C_ab: what grids are sized from. Any model of
  // the parameter set whose grid covers t (an analytic one with t as additional date).
  static void state_covariance(const model_markovian_hjm& model, const datetime& t, matrix<double>& out);

  const model_markovian_hjm& model() const { return *model_; }
  const std::vector<std::shared_ptr<const space_grid>>& grids() const { return grids_; }

 private:
  std::shared_ptr<const parameter_markovian_hjm> parameters_;
  std::shared_ptr<const model_markovian_hjm> model_;
  std::vector<std::shared_ptr<const space_grid>> grids_;
  // With two or three factors, per factor f: n one-dimensional coefficient objects on
  // grid f (the model fills all factors on the grids it is given; only entry f is kept).
  std::vector<std::vector<std::shared_ptr<const pde_model_coefficients>>> line_coefficients_;
  // Per factor f: grid f n times, the grids the model fills line f on.
  std::vector<std::vector<std::shared_ptr<const space_grid>>> same_grids_;
  // D at the two ends of the step coefficients() was last asked for.
  mutable vector<double> decay_from_, decay_to_;
};

}  // namespace tarvex
