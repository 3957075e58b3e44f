#include "PDE/theta_scheme.h"

#include <algorithm>

#include "Core/check.h"

namespace tarvex {

theta_scheme::theta_scheme(std::shared_ptr<const time_grid> grid, std::shared_ptr<const space_grid> axis,
                           bool linear_boundary, pde_scheme_type type, bool rannacher)
    : pde_scheme(std::move(grid), rannacher), axis_(std::move(axis)), linear_boundary_(linear_boundary), stencil_(axis_->axis()) {
  theta_ = type == pde_scheme_type::explicit_euler ? 0.0 : type == pde_scheme_type::implicit_euler ? 1.0 : 0.5;
  const std::size_t n = axis_->size();
  bands_.resize(n);
  scratch_ = vector<double>(n, 0.0);
  work_ = vector<double>(n, 0.0);
}

void theta_scheme::advance(pde_storage& storage, const pde_coefficient_views& coefficients, double) {
  TARVEX_CHECK(coefficients.size() == 1, "one-dimensional scheme got ", coefficients.size(), " coefficient objects");
  const std::size_t n = axis_->size();
  TARVEX_CHECK(storage.nodes() == n, "solution has ", storage.nodes(), " nodes, the grid ", n);
  const auto& c = *coefficients[0].first;
  pde_detail::fill_bands(bands_, stencil_, c.diffusion().data(), c.convection().data(), c.reaction().data(), 0,
                         1, linear_boundary_);
  const bool transposed = grid_->is_direction_forward();
  for (std::size_t r = 0; r < storage.number_of_results(); ++r) {
    double* v = storage.slice(r);
    if (start_up_) {
      // Two implicit half steps: (I - L/2)^-2.
      pde_detail::solve(bands_, 0.5, v, 1, n, scratch_.data(), transposed);
      pde_detail::solve(bands_, 0.5, v, 1, n, scratch_.data(), transposed);
    } else if (!transposed) {
      pde_detail::apply(bands_, 1.0 - theta_, v, work_.data(), 1, n, false);
      pde_detail::solve(bands_, theta_, work_.data(), 1, n, scratch_.data(), false);
      std::copy_n(work_.data(), n, v);
    } else {
      pde_detail::solve(bands_, theta_, v, 1, n, scratch_.data(), true);
      pde_detail::apply(bands_, 1.0 - theta_, v, work_.data(), 1, n, true);
      std::copy_n(work_.data(), n, v);
    }
  }
}

}  // namespace tarvex
