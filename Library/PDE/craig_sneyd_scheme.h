#pragma once
#include <memory>
#include <vector>

#include "PDE/pde_scheme.h"

namespace tarvex {

// Craig-Sneyd ADI in two dimensions with a correlated mixed term (theta = 1/2): second
// order in time, one tridiagonal solve per line and direction, twice per step. Start-up
// steps are two Douglas steps (theta = 1) of half the step. Backward grids only. Grid 0
// is the fastest index of the solution, grid 1 the slowest.
class craig_sneyd_scheme final : public pde_scheme {
 public:
  craig_sneyd_scheme(std::shared_ptr<const time_grid> grid, const std::vector<std::shared_ptr<const space_grid>>& axes,
                     const std::vector<bool>& linear_boundaries, double correlation, bool rannacher);

  void advance(pde_storage& storage, const pde_coefficient_views& coefficients, double value) override;

 private:
  // out = identity in + w L_d in on every line of dimension d.
  void apply(std::size_t d, double w, const double* in, double* out, double identity) const;
  // x <- (I - theta L_d)^-1 x on every line of dimension d.
  void solve(std::size_t d, double theta, double* x);
  // out = w L_0 in, the mixed term, zero on the edges.
  void mixed(double w, const double* in, double* out) const;
  // One Douglas (theta, no correction) or Craig-Sneyd step of the scaled operator on v.
  void step(double* v, double scale, double theta, bool correct);

  std::vector<std::shared_ptr<const space_grid>> axes_;
  std::vector<bool> linear_;
  double correlation_;
  std::size_t n0_, n1_;
  pde_stencil stencil0_, stencil1_;
  std::vector<pde_bands> bands0_;  // per line of dimension 0 (n1 lines)
  // Bands of dimension 1 at node (j, i) = j n0 + i, so that its n0 lines are solved
  // together with unit stride (strided line-by-line solves miss the cache).
  vector<double> lower1_, diagonal1_, upper1_, factor1_;
  pde_bands line1_;
  vector<double> mixed_weight_;  // 2 rho sqrt(d0 d1) per node
  vector<double> l1v_, l2v_, l0v_, y0_, y_, tmp_, scratch_;
};

}  // namespace tarvex
