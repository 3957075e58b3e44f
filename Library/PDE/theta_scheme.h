#pragma once
#include <memory>
#include <vector>

#include "PDE/pde_scheme.h"

namespace tarvex {

// Theta schemes in one dimension: explicit (theta 0), implicit (1), Crank-Nicolson (1/2),
// with implicit start-up steps when asked. Works in buffers sized at construction.
class theta_scheme final : public pde_scheme {
 public:
  theta_scheme(std::shared_ptr<const time_grid> grid, std::shared_ptr<const space_grid> axis, bool linear_boundary,
               pde_scheme_type type, bool rannacher);

  void advance(pde_storage& storage, const pde_coefficient_views& coefficients, double value) override;

 private:
  std::shared_ptr<const space_grid> axis_;
  bool linear_boundary_;
  double theta_;
  pde_stencil stencil_;
  pde_bands bands_;
  vector<double> scratch_, work_;
};

}  // namespace tarvex
