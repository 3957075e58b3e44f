#pragma once
#include <cstdint>
#include <memory>

#include "Analytics/models/model_markovian_hjm.h"
#include "Instrument/interest_rate_swap.h"
#include "Market/discount_curve.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// One target of the Markovian HJM calibration: a European payer swaption on an
// interest_rate_swap (a caplet when the swap has one period), priced semi-analytically.
//
// Seen from the expiry t0 the model's bonds are P_i(x) = P0_i exp(-D_i x - |D_i|^2/2)
// in a standard normal factor state x (D from model_markovian_hjm::decompose with the
// start subtracted, so D_0 = 0, and model_dfs). The price is E[V(x)^+] for the payer
// value V: the exercise boundary V = 0 is found by a second-order root search in
// factor space and replaced by its tangent hyperplane at the root x*, with unit normal
// u = grad V / |grad V|. Beyond it every cash flow c P_i(x) integrates to
// c P0_i N(-u (D_i + x*)) (the Gaussian shifted by the bond's measure change), so the
// price is a sum of normal probabilities. With one factor the hyperplane is the exact
// boundary and the price is exact (Jamshidian's decomposition, summed differently).
class calibration_ir_hjm_swaption {
 public:
  // Builds the swap from (curve, expiry, maturity, frequency, day count).
  calibration_ir_hjm_swaption(const std::shared_ptr<const discount_curve>& curve, const datetime& expiry,
                              const datetime& maturity, const tenor& frequency,
                              const std::shared_ptr<const day_count_convention>& day_count);
  // Shares an existing swap.
  explicit calibration_ir_hjm_swaption(const std::shared_ptr<const interest_rate_swap>& swap);

  // The underlying swap.
  const std::shared_ptr<const interest_rate_swap>& swaption() const noexcept { return swap_; }
  // Today's forward swap rate: the at-the-money strike.
  double swap_rate() const { return swap_->swap_rate(); }

  // Model price of the payer swaption struck at `strike`. Swaption case: `root` (F
  // entries) starts the boundary search and receives the root; `gradient` (F entries;
  // an empty owning vector is sized) receives dV/dx there. Caplet case: Black's formula
  // on the bond put, root and gradient untouched. A search that does not reach
  // |V| < tolerance logs " pv: %f:" and still prices at its last point.
  double value(double strike, const model_markovian_hjm& model, vector<double>& root, vector<double>& gradient,
               std::uint64_t max_iterations, double tolerance) const;
  // value() as a Bachelier normal volatility of the swap rate; 0 for a price not above
  // machine epsilon and 10000 for a non-finite one, so a calibration sees a large
  // residual instead of an error.
  double implied_volatility(double strike, const model_markovian_hjm& model, vector<double>& root,
                            std::uint64_t max_iterations, double tolerance) const;
  // implied_volatility(), and adds seed * d sigma / d(model state) into `gradient`
  // (model.state_parameters_size() entries: the parameter set's entries, then the
  // model's blocks). The contribution enters through decompose_aad, so it sits on the
  // model's blocks: call model.fill_aad(gradient) once after all contributions to move
  // it onto the parameter entries.
  //
  // The price is differentiated at the fixed root x* and normal u. Moving x* along the
  // boundary or u by a small rotation changes the half-space only where V, which
  // vanishes at x*, is second order small, so with one factor (and to the boundary's
  // curvature with several) these terms vanish: d price = E[dV 1{exercise}]. The
  // fallbacks 0 and 10000 have a zero derivative.
  double implied_volatility_aad(double strike, const model_markovian_hjm& model, vector<double>& root,
                                std::uint64_t max_iterations, double tolerance, double seed, double* gradient) const;
  // Starting point of the search: one second-order step from x = 0. Caplets leave
  // `root` untouched; otherwise it is resized to F when empty.
  void initial_root(vector<double>& root, double strike, const model_markovian_hjm& model) const;
  // A closed-form estimate of the at-the-money normal volatility from the factor
  // loadings of the swap's cash flows at x = 0: sqrt(sum_k (V_k / A)^2 / T), with V_k
  // the swap value at strike -S on the discount-factor sensitivities -D_ik P_i.
  double swaption_price_approximation(const model_markovian_hjm& model) const;

 private:
  // V(x), and optionally g = dV/dx and H = d2V/dx2, on the loadings D.
  double swap_value(const matrix<double>& loadings, const vector<double>& x, double strike, vector<double>* gradient,
                    matrix<double>* hessian) const;
  void search(const matrix<double>& loadings, double strike, vector<double>& root, vector<double>& gradient,
              std::uint64_t max_iterations, double tolerance) const;
  // The half-space price at (x*, u = g/|g|); with loadings_adjoint, adds seed * d price / dD.
  double boundary_price(const matrix<double>& loadings, const vector<double>& root, const vector<double>& gradient,
                        double strike, matrix<double>* loadings_adjoint, double seed) const;
  // Black's formula on the bond put; with loadings_adjoint, adds seed * d price / dD.
  double caplet_price(const matrix<double>& loadings, double strike, matrix<double>* loadings_adjoint,
                      double seed) const;
  matrix<double> loadings(const model_markovian_hjm& model) const;

  std::shared_ptr<const interest_rate_swap> swap_;
};

}  // namespace tarvex
