#pragma once
#include <memory>
#include <vector>

#include "PDE/pde_scheme.h"
#include "Vectorization/matrix.h"

namespace tarvex {

// Craig-Sneyd ADI in two or three dimensions with correlated mixed terms (theta = 1/2):
// second order in time, one tridiagonal solve per line and direction, twice per step;
// the mixed terms are explicit. Start-up steps are two Douglas steps (theta = 1) of half
// the step. Grid 0 is the fastest index of the solution, the last grid the slowest.
//
// A forward grid advances a density with the exact transpose of the backward step (the
// backward step's operations undone in reverse order, each transposed), so that a payoff
// summed against the density equals the backward value at the start node to rounding.
class craig_sneyd_scheme final : public pde_scheme {
 public:
  craig_sneyd_scheme(std::shared_ptr<const time_grid> grid, const std::vector<std::shared_ptr<const space_grid>>& axes,
                     const std::vector<bool>& linear_boundaries, const matrix<double>& correlation, bool rannacher);

  void advance(pde_storage& storage, const pde_coefficient_views& coefficients, double value) override;

 private:
  // One dimension: its extent, the stride of its index in the solution, its stencil, the
  // bands of L at every node (zero where a neighbour is missing), the factorisation of
  // (I - theta L) last made (theta 0: none) and 1 / (y[j+1] - y[j-1]) (zero at the ends).
  struct direction {
    direction(std::size_t n, std::size_t s, bool l, const vector<double>& axis)
        : size(n), stride(s), linear(l), stencil(axis) {}
    std::size_t size, stride;
    bool linear;
    pde_stencil stencil;
    vector<double> lower, diagonal, upper, factor, sub, inverse, span;
    double factored_theta = 0.0;
    bool factored_transposed = false;
  };
  // One pair of dimensions a < b: the weight of the cross difference at every node,
  // 2 rho sqrt(d_a d_b) times the two inverse central spans, zero on the edges of a and b.
  struct cross {
    std::size_t a, b;
    double correlation;
    vector<double> weight;
  };

  // out (+)= w L_d in (or its transpose); accumulate adds to out.
  void apply(std::size_t d, double w, const double* in, double* out, bool transposed, bool accumulate) const;
  // x <- (I - theta L_d)^-1 x (or with the transpose) on every line of dimension d.
  void solve(std::size_t d, double theta, double* x, bool transposed);
  // out = w sum of the mixed terms applied to in (or their transpose).
  void mixed(double w, const double* in, double* out, bool transposed);
  // One Douglas (theta, no correction) or Craig-Sneyd step of the scaled operator on v,
  // and its transpose.
  void step(double* v, double scale, double theta, bool correct);
  void step_transposed(double* v, double scale, double theta, bool correct);

  std::vector<std::shared_ptr<const space_grid>> axes_;
  std::size_t nodes_;
  std::vector<direction> directions_;
  std::vector<cross> crosses_;
  std::vector<vector<double>> lv_;  // L_d v per dimension (adjoints in the transposed step)
  vector<double> l0v_, y0_, y_, tmp_;
  vector<double> padded_;  // the transposed mixed term reads its input with a zero margin
  std::size_t margin_ = 0;
};

}  // namespace tarvex
