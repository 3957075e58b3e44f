#pragma once
#include <cstddef>
#include <vector>

#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// The free unknowns of the HJM calibration and the Tikhonov smoothness residuals.
//
// Unknowns, in the order of the parameter set's state parameters: every decay entry,
// every volatility entry, then (when the correlation is fitted) the strictly lower
// entries L(i, j) of the correlation's Cholesky factor, row by row. A bounded entry p
// in [lo, hi] is x = 10 artanh((2p - lo - hi) / (hi - lo)), so the optimiser works on
// all of R and never leaves the bounds; the factor 10 (tanh(0.1 x) back) keeps the
// unknowns of order one to ten where the optimiser's steps are well scaled. A Cholesky
// row L(i, j) = tanh(0.1 x) has norm below one unless its entries saturate; then the
// row is shrunk to norm sqrt(0.999999) so that C = L L^T stays positive definite.
class calibration_ir_hjm_maps {
 public:
  // Bounds pairs in either order (the first two entries are read).
  calibration_ir_hjm_maps(const std::vector<double>& decay_bounds, const std::vector<double>& volatility_bounds,
                          bool calibrate_correlation, double regularization_factor);

  // Length of the unknown vector for parameter sets shaped like `p`.
  std::size_t number_of_unknowns(const parameter_markovian_hjm& p) const;
  // Count of Tikhonov residuals: one per neighbouring pair of rows, per factor, in the
  // decays and in the volatilities.
  static std::size_t number_of_regularizations(const parameter_markovian_hjm& p);

  // x (number_of_unknowns entries) from the parameters; "out of range!" otherwise. A
  // correlation that is not positive definite cannot be mapped and is refused.
  void map_to_R(const parameter_markovian_hjm& p, vector<double>& x) const;
  // Writes x into the parameters through their state parameters (the correlation is
  // left as it is unless fitted); "out of range!" for an x of the wrong length.
  void map_from_R(const vector<double>& x, parameter_markovian_hjm& p) const;
  // row[j] = sum_e gradient[e] d p_e / d x_j, with `gradient` laid out like p's state
  // parameters (an adjoint of anything with respect to them); row and x as for map_from_R.
  void map_from_R_aad(const vector<double>& x, const parameter_markovian_hjm& p, const double* gradient,
                      vector<double>& row) const;

  // What map_from_R_aad needs from x, computed once when many rows share one x (a
  // Jacobian): the derivative of every bounded entry and the Cholesky factor.
  struct chain {
    vector<double> x;
    vector<double> derivative;
    matrix<double> cholesky;
  };
  void prepare_aad(const vector<double>& x, const parameter_markovian_hjm& p, chain& out) const;
  // map_from_R_aad at the x that `prepared` was built from.
  void map_from_R_aad(const chain& prepared, const parameter_markovian_hjm& p, const double* gradient,
                      vector<double>& row) const;

  // Writes the Tikhonov residuals lambda (q(r, c) - q(r - 1, c)), decays then
  // volatilities, into r from position `first`; they must fill r to its end ("out of range").
  void tikhonov_regularization(const parameter_markovian_hjm& p, vector<double>& r, std::size_t first) const;
  // Their derivatives with respect to x into rows first, first + 1, ... of jacobian
  // (each row overwritten).
  void tikhonov_regularization_aad(const vector<double>& x, const parameter_markovian_hjm& p, matrix<double>& jacobian,
                                   std::size_t first) const;

  // The bounded maps of one entry; lo < hi.
  static double to_R(double p, double lo, double hi);
  static double from_R(double x, double lo, double hi);
  // d from_R / dx.
  static double from_R_derivative(double x, double lo, double hi);

  double decay_lower() const noexcept { return decay_lo_; }
  double decay_upper() const noexcept { return decay_hi_; }
  double volatility_lower() const noexcept { return volatility_lo_; }
  double volatility_upper() const noexcept { return volatility_hi_; }

 private:
  // The Cholesky factor (n x n, lower, upper part zero) from the correlation unknowns
  // starting at x[first].
  static void cholesky_from_R(const vector<double>& x, std::size_t first, std::size_t n, matrix<double>& l);

  double decay_lo_, decay_hi_, volatility_lo_, volatility_hi_;
  bool calibrate_correlation_;
  double regularization_factor_;
};

}  // namespace tarvex
