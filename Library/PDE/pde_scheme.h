#pragma once
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "PDE/pde_model_coefficients.h"
#include "PDE/pde_storage.h"
#include "PDE/space_grid.h"
#include "PDE/time_grid.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

enum class pde_scheme_type : int {
  explicit_euler = 0,
  implicit_euler = 1,
  crank_nicolson = 2,
  craig_sneyd = 3,  // ADI for two and three dimensions with correlation, both grid directions
};

// The coefficients as the driver hands them: a const and a writable pointer to one object
// per dimension.
using pde_coefficient_views =
    std::vector<std::pair<std::shared_ptr<const pde_model_coefficients>, std::shared_ptr<pde_model_coefficients>>>;

// Advances a solution over the steps of a time grid. Coefficients are integrated over
// the step: reaction = the integral of the (negative) discount rate, diffusion = half the
// variance accrued, convection = the drift accrued, so a step is V(earlier) = V(later) +
// L V with L built from them (theta-weighted). A forward grid advances a density with the
// transposed operator, so that summing a payoff against it gives the backward value.
class pde_scheme {
 public:
  virtual ~pde_scheme() = default;

  // Prepares the step that leaves grid index j in the grid's direction.
  virtual void start_step(std::size_t j);
  // Advances every result of `storage` over the prepared step. `value` (the entry of the
  // driver's values at the later date) is not used by these schemes.
  virtual void advance(pde_storage& storage, const pde_coefficient_views& coefficients, double value) = 0;

  const datetime& from() const noexcept { return from_; }
  const datetime& to() const noexcept { return to_; }
  // True when the prepared step is one of the implicit start-up steps.
  bool start_up() const noexcept { return start_up_; }

  // A scheme for the grids (dimensions outermost first, that is the grids reversed);
  // linear_boundaries[d] true: the second derivative vanishes at both ends of grid d,
  // false: the end values are held. rannacher: the two steps below the last date and
  // below every event date are each taken as two implicit half steps, which damps the
  // oscillations Crank-Nicolson leaves behind a payoff's kink.
  static std::shared_ptr<pde_scheme> create_scheme(const std::shared_ptr<const time_grid>& grid,
                                                   const std::vector<std::shared_ptr<const space_grid>>& grids,
                                                   const std::vector<std::shared_ptr<pde_model_coefficients>>& coefficients,
                                                   const std::vector<std::size_t>& dimensions,
                                                   const std::vector<bool>& linear_boundaries, pde_scheme_type type,
                                                   bool rannacher, const matrix<double>& correlation);

 protected:
  pde_scheme(std::shared_ptr<const time_grid> grid, bool rannacher);

  std::shared_ptr<const time_grid> grid_;
  bool rannacher_;
  std::size_t j_ = 0;
  datetime from_, to_;
  bool start_up_ = false;
};

// Operator of one dimension over the step: bands of L on the grid nodes.
struct pde_bands {
  vector<double> lower, diagonal, upper;
  void resize(std::size_t n) {
    lower = vector<double>(n, 0.0);
    diagonal = vector<double>(n, 0.0);
    upper = vector<double>(n, 0.0);
  }
};

// Three-point weights of V'' and V' at every node of an axis (the ends one-sided for
// V'), computed once per grid so that a step only multiplies.
struct pde_stencil {
  vector<double> second_lower, second_diagonal, second_upper, first_lower, first_diagonal, first_upper;
  explicit pde_stencil(const vector<double>& axis);
};

namespace pde_detail {

// Bands of L at stride `stride` for the line starting at `offset` of a node block:
// diffusion d V'' + convection c V' + reaction r V, three-point stencils on the grid.
void fill_bands(pde_bands& bands, const pde_stencil& stencil, const double* diffusion, const double* convection,
                const double* reaction, std::size_t offset, std::size_t stride, bool linear_boundary);

// Solves (I - theta L) x = rhs in place (rhs becomes x), or its transpose; scratch has n entries.
void solve(const pde_bands& bands, double theta, double* rhs, std::size_t stride, std::size_t n, double* scratch,
           bool transposed);

// out = identity in + w L in, or with L transposed; out and in do not overlap.
void apply(const pde_bands& bands, double w, const double* in, double* out, std::size_t stride, std::size_t n,
           bool transposed, double identity = 1.0);

}  // namespace pde_detail

}  // namespace tarvex
