#include "PDE/pde_scheme.h"

#include "Core/check.h"
#include "PDE/craig_sneyd_scheme.h"
#include "PDE/theta_scheme.h"

namespace tarvex {

pde_scheme::pde_scheme(std::shared_ptr<const time_grid> grid, bool rannacher)
    : grid_(std::move(grid)), rannacher_(rannacher) {
  TARVEX_CHECK(grid_ != nullptr && grid_->size() >= 2, "a PDE scheme needs a time grid of two dates or more");
}

void pde_scheme::start_step(std::size_t j) {
  const bool forward = grid_->is_direction_forward();
  TARVEX_CHECK(forward ? j + 1 < grid_->size() : (j > 0 && j < grid_->size()), "no step leaves grid index ", j,
               " of ", grid_->size());
  j_ = j;
  from_ = grid_->date(j);
  to_ = grid_->date(forward ? j + 1 : j - 1);
  start_up_ = false;
  if (!rannacher_) return;
  // The two steps below the last date and below every event date (where payoffs put
  // kinks), whichever way the grid is walked: a forward run then takes the transposed
  // matrices of the backward run, step for step.
  const std::size_t upper = forward ? j + 1 : j;  // the later index of the step
  const auto near = [&](std::size_t e) { return e >= upper && e - upper < 2; };
  start_up_ = near(grid_->size() - 1);
  for (std::size_t i = 0; i < grid_->event_dates_size() && !start_up_; ++i) start_up_ = near(grid_->event_dates_indexs(i));
}

std::shared_ptr<pde_scheme> pde_scheme::create_scheme(
    const std::shared_ptr<const time_grid>& grid, const std::vector<std::shared_ptr<const space_grid>>& grids,
    const std::vector<std::shared_ptr<pde_model_coefficients>>& coefficients, const std::vector<std::size_t>& dimensions,
    const std::vector<bool>& linear_boundaries, pde_scheme_type type, bool rannacher, const matrix<double>& correlation) {
  const std::size_t n = grids.size();
  TARVEX_CHECK_TEXT(n >= 1 && n <= 3, "PDE schemes run on one to three space grids, got ", n);
  TARVEX_CHECK(dimensions.size() == n && linear_boundaries.size() == n && coefficients.size() == n,
               "a PDE scheme needs one extent, boundary flag and coefficient object per grid; grids ", n,
               ", extents ", dimensions.size(), ", flags ", linear_boundaries.size(), ", coefficients ",
               coefficients.size());
  for (std::size_t d = 0; d < n; ++d)
    TARVEX_CHECK(dimensions[d] == grids[n - 1 - d]->size() && grids[n - 1 - d]->size() >= 3, "extent ", d, " is ",
                 dimensions[d], " for a grid of ", grids[n - 1 - d]->size(), " nodes (at least 3 needed)");
  if (n == 1) {
    TARVEX_CHECK_TEXT(type != pde_scheme_type::craig_sneyd, "craig_sneyd needs two or three space grids");
    return std::make_shared<theta_scheme>(grid, grids[0], linear_boundaries[0], type, rannacher);
  }
  TARVEX_CHECK_TEXT(type == pde_scheme_type::craig_sneyd, "two or three space grids need the craig_sneyd scheme");
  TARVEX_CHECK(correlation.rows() == n && correlation.columns() == n, "correlation of ", n, " grids must be ", n,
               "x", n, ", got ", correlation.rows(), "x", correlation.columns());
  return std::make_shared<craig_sneyd_scheme>(grid, grids, linear_boundaries, correlation, rannacher);
}

pde_stencil::pde_stencil(const vector<double>& axis) {
  const std::size_t n = axis.size();
  for (auto* v : {&second_lower, &second_diagonal, &second_upper, &first_lower, &first_diagonal, &first_upper})
    *v = vector<double>(n, 0.0);
  const double* y = axis.data();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double hm = y[i] - y[i - 1], hp = y[i + 1] - y[i], h = hm + hp;
    second_lower[i] = 2.0 / (hm * h);
    second_upper[i] = 2.0 / (hp * h);
    second_diagonal[i] = -2.0 / (hm * hp);
    first_lower[i] = -hp / (hm * h);
    first_upper[i] = hm / (hp * h);
    first_diagonal[i] = (hp - hm) / (hm * hp);
  }
  // V'' = 0 at the ends: what remains is a one-sided drift (and the reaction).
  const double h0 = y[1] - y[0], h1 = y[n - 1] - y[n - 2];
  first_diagonal[0] = -1.0 / h0;
  first_upper[0] = 1.0 / h0;
  first_diagonal[n - 1] = 1.0 / h1;
  first_lower[n - 1] = -1.0 / h1;
}

namespace pde_detail {

void fill_bands(pde_bands& bands, const pde_stencil& w, const double* diffusion, const double* convection,
                const double* reaction, std::size_t offset, std::size_t stride, bool linear_boundary) {
  const std::size_t n = bands.diagonal.size();
  double* __restrict lo = bands.lower.data();
  double* __restrict di = bands.diagonal.data();
  double* __restrict up = bands.upper.data();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t p = offset + i * stride;
    const double d = diffusion[p], c = convection[p];
    lo[i] = d * w.second_lower[i] + c * w.first_lower[i];
    up[i] = d * w.second_upper[i] + c * w.first_upper[i];
    di[i] = d * w.second_diagonal[i] + c * w.first_diagonal[i] + reaction[p];
  }
  if (!linear_boundary) di[0] = up[0] = di[n - 1] = lo[n - 1] = 0.0;  // the end values are held
}

namespace {
template <bool transposed>
void thomas(const pde_bands& bands, double theta, double* x, std::size_t stride, std::size_t n, double* cp) {
  // Thomas' algorithm on (I - theta L) or its transpose: sub multiplies x[i-1], sup x[i+1].
  const double* lo = bands.lower.data();
  const double* di = bands.diagonal.data();
  const double* up = bands.upper.data();
  const auto sub = [&](std::size_t i) { return -theta * (transposed ? up[i - 1] : lo[i]); };
  const auto sup = [&](std::size_t i) { return -theta * (transposed ? lo[i + 1] : up[i]); };
  double b = 1.0 - theta * di[0];
  cp[0] = n > 1 ? sup(0) / b : 0.0;
  x[0] /= b;
  for (std::size_t i = 1; i < n; ++i) {
    const double s = sub(i);
    b = 1.0 - theta * di[i] - s * cp[i - 1];
    const double inverse = 1.0 / b;
    cp[i] = i + 1 < n ? sup(i) * inverse : 0.0;
    x[i * stride] = (x[i * stride] - s * x[(i - 1) * stride]) * inverse;
  }
  for (std::size_t i = n - 1; i-- > 0;) x[i * stride] -= cp[i] * x[(i + 1) * stride];
}
}  // namespace

void solve(const pde_bands& bands, double theta, double* x, std::size_t stride, std::size_t n, double* cp,
           bool transposed) {
  if (theta == 0.0) return;
  if (transposed)
    thomas<true>(bands, theta, x, stride, n, cp);
  else
    thomas<false>(bands, theta, x, stride, n, cp);
}

void apply(const pde_bands& bands, double w, const double* in, double* out, std::size_t stride, std::size_t n,
           bool transposed, double identity) {
  for (std::size_t i = 0; i < n; ++i) {
    double sum = bands.diagonal[i] * in[i * stride];
    if (i > 0) sum += (transposed ? bands.upper[i - 1] : bands.lower[i]) * in[(i - 1) * stride];
    if (i + 1 < n) sum += (transposed ? bands.lower[i + 1] : bands.upper[i]) * in[(i + 1) * stride];
    out[i * stride] = identity * in[i * stride] + w * sum;
  }
}

}  // namespace pde_detail
}  // namespace tarvex
