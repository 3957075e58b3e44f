#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "Core/cpu_allocator.h"
#include "PDE/pde_scheme.h"

namespace tarvex {
namespace {

// Heat equations with Gaussian data, whose solutions are Gaussians: a payoff
// exp(-|y|^2 / (2 s^2)) at T, diffused with covariance C over T and discounted at r, is
// det(I + C/s^2)^{-1/2} exp(-y'(s^2 I + C)^{-1} y / 2 - r T) at 0. The grids reach 8
// standard deviations, so the boundaries do not matter at 1e-12.
constexpr double s = 0.1, sigma = 0.2, r = 0.03, years = 2.0;
const datetime start(2026, 1, 5);

std::shared_ptr<const time_grid> grid_of(std::size_t steps, bool forward, std::vector<datetime> events = {}) {
  const datetime end(start.value() + 365.0 * years);
  events.push_back(start);
  events.push_back(end);
  const double step = 365.0 * years / static_cast<double>(steps);
  return std::make_shared<const time_grid>(time_grid_config(0, forward ? 0 : 1, true, step, 1, 1e-9), start, end,
                                           std::vector<datetime>{}, events);
}

struct harness {
  std::vector<std::shared_ptr<const space_grid>> axes;
  std::vector<std::shared_ptr<pde_model_coefficients>> coefficients;
  pde_coefficient_views views;
  std::shared_ptr<const time_grid> grid;
  std::shared_ptr<pde_scheme> scheme;
  std::size_t nodes = 1;

  harness(std::size_t dims, std::size_t points, std::size_t steps, pde_scheme_type type, bool rannacher,
          bool forward = false, double rho = 0.0, std::vector<datetime> events = {}) {
    const double half = 8.0 * std::sqrt(s * s + sigma * sigma * years);
    std::vector<std::size_t> extents;
    for (std::size_t d = 0; d < dims; ++d) {
      axes.push_back(std::make_shared<const space_grid>(space_grid::uniform(-half, half, points)));
      extents.push_back(points);
      nodes *= points;
    }
    for (std::size_t d = 0; d < dims; ++d) {
      coefficients.push_back(std::make_shared<pde_model_coefficients>(extents, false));
      views.emplace_back(coefficients.back(), coefficients.back());
    }
    grid = grid_of(steps, forward, events);
    matrix<double> correlation(dims, dims, rho);
    for (std::size_t d = 0; d < dims; ++d) correlation(d, d) = 1.0;
    scheme = pde_scheme::create_scheme(grid, axes, coefficients, extents, std::vector<bool>(dims, true), type,
                                       rannacher, correlation);
  }
  // Step-integrated coefficients: half the variance, the drift and minus the discount
  // (shared between dimensions), plus `extra` on the reaction of dimension 0.
  void fill(double tau, double drift = 0.0, const std::function<double(double)>& extra = {}) {
    for (std::size_t d = 0; d < coefficients.size(); ++d) {
      coefficients[d]->diffusion().fill(0.5 * sigma * sigma * tau);
      coefficients[d]->convection().fill(drift * tau);
      coefficients[d]->reaction().fill(-r * tau / static_cast<double>(coefficients.size()));
    }
    if (extra)
      for (std::size_t p = 0; p < nodes; ++p)
        coefficients[0]->reaction().data()[p] += tau * extra(axes[0]->axis()[p % axes[0]->size()]);
  }
  double tau() const { return (scheme->to().value() - scheme->from().value()) / 365.0 * (scheme->to() < scheme->from() ? -1 : 1); }
  // Runs the whole grid on `storage`.
  void run(pde_storage& storage, double drift = 0.0, const std::function<double(double)>& extra = {}) {
    const bool forward = grid->is_direction_forward();
    for (std::size_t k = 0; k + 1 < grid->size(); ++k) {
      scheme->start_step(forward ? k : grid->size() - 1 - k);
      fill(tau(), drift, extra);
      scheme->advance(storage, views, 0.0);
    }
  }
};

double payoff(double y0, double y1 = 0.0) { return std::exp(-(y0 * y0 + y1 * y1) / (2 * s * s)); }

double exact_1d(double y) {
  const double v = s * s + sigma * sigma * years;
  return s / std::sqrt(v) * std::exp(-y * y / (2 * v) - r * years);
}

double exact_2d(double y0, double y1, double rho) {
  const double c = sigma * sigma * years, a = s * s + c, b = rho * c, det = a * a - b * b;
  const double q = (a * y0 * y0 - 2 * b * y0 * y1 + a * y1 * y1) / det;
  return s * s / std::sqrt(det) * std::exp(-0.5 * q - r * years);
}

// Maximum error over the middle half of a 1D run.
double error_1d(std::size_t points, std::size_t steps, pde_scheme_type type, bool rannacher) {
  harness h(1, points, steps, type, rannacher);
  pde_storage storage(1, 1, {points});
  for (std::size_t p = 0; p < points; ++p) storage.slice(0)[p] = payoff(h.axes[0]->axis()[p]);
  h.run(storage);
  double worst = 0.0;
  for (std::size_t p = points / 4; p < 3 * points / 4; ++p)
    worst = std::max(worst, std::fabs(storage.slice(0)[p] - exact_1d(h.axes[0]->axis()[p])));
  return worst;
}

TEST(pde_scheme, theta_schemes_converge_at_their_orders) {
  // Time: Crank-Nicolson with start-up steps is second order, errors fall by 4 per
  // halving; implicit Euler by 2. Space on a fine time grid: second order.
  const std::size_t fine = 1601;
  struct row {
    pde_scheme_type type;
    bool rannacher;
    double ratio, slack;
  };
  for (const row& c : {row{pde_scheme_type::crank_nicolson, true, 4.0, 0.6}, row{pde_scheme_type::implicit_euler, false, 2.0, 0.3}}) {
    const double e1 = error_1d(fine, 16, c.type, c.rannacher), e2 = error_1d(fine, 32, c.type, c.rannacher),
                 e3 = error_1d(fine, 64, c.type, c.rannacher);
    EXPECT_NEAR(e1 / e2, c.ratio, c.slack) << int(c.type) << " " << e1 << " " << e2;
    EXPECT_NEAR(e2 / e3, c.ratio, c.slack) << int(c.type) << " " << e2 << " " << e3;
  }
  const double s1 = error_1d(101, 800, pde_scheme_type::crank_nicolson, true),
               s2 = error_1d(201, 800, pde_scheme_type::crank_nicolson, true);
  EXPECT_NEAR(s1 / s2, 4.0, 0.4) << s1 << " " << s2;
  EXPECT_LT(s2, 3e-4);  // measured 2.2e-4
  // Explicit Euler, stable at this ratio of step to spacing squared (measured 3.5e-3).
  EXPECT_LT(error_1d(51, 400, pde_scheme_type::explicit_euler, false), 5e-3);
}

TEST(pde_scheme, forward_density_prices_what_the_backward_run_prices) {
  // The forward run applies the transposed matrices, so with any reaction and drift the
  // payoff summed against the density is the backward value at the start node.
  const std::size_t points = 81, steps = 40, origin = 37;
  const auto extra = [](double y) { return -0.5 * y; };
  const std::vector<datetime> events{datetime(start.value() + 200.0)};
  harness back(1, points, steps, pde_scheme_type::crank_nicolson, true, false, 0.0, events);
  pde_storage v(1, 1, {points});
  for (std::size_t p = 0; p < points; ++p) v.slice(0)[p] = std::max(back.axes[0]->axis()[p] - 0.01, 0.0);
  back.run(v, 0.02, extra);
  harness forth(1, points, steps, pde_scheme_type::crank_nicolson, true, true, 0.0, events);
  pde_storage density(1, 1, {points});
  density.slice(0)[origin] = 1.0;
  forth.run(density, 0.02, extra);
  double sum = 0.0;
  for (std::size_t p = 0; p < points; ++p) sum += density.slice(0)[p] * std::max(forth.axes[0]->axis()[p] - 0.01, 0.0);
  EXPECT_NEAR(sum, v.slice(0)[origin], 1e-15 + 1e-13 * v.slice(0)[origin]);
}

TEST(pde_scheme, craig_sneyd_solves_the_correlated_heat_equation_without_allocating) {
  for (const double rho : {-0.6, 0.0, 0.7}) {
    const std::size_t points = 121;
    for (const std::size_t steps : {25, 50}) {
      harness h(2, points, steps, pde_scheme_type::craig_sneyd, true, false, rho);
      pde_storage storage(1, 1, {points, points});
      const auto& y = h.axes[0]->axis();
      for (std::size_t j = 0; j < points; ++j)
        for (std::size_t i = 0; i < points; ++i) storage.slice(0)[j * points + i] = payoff(y[i], y[j]);
      const auto before = cpu_allocator::allocation_count();
      h.run(storage);
      EXPECT_EQ(cpu_allocator::allocation_count(), before) << "steps allocate";
      double worst = 0.0;
      for (std::size_t j = points / 4; j < 3 * points / 4; ++j)
        for (std::size_t i = points / 4; i < 3 * points / 4; ++i)
          worst = std::max(worst, std::fabs(storage.slice(0)[j * points + i] - exact_2d(y[i], y[j], rho)));
      // The space error of 121 points dominates (measured up to 9.5e-4 at rho 0.7).
      EXPECT_LT(worst, 2e-3) << rho << " " << steps;
    }
  }
}

TEST(pde_scheme, refuses_what_it_cannot_run) {
  EXPECT_THROW(harness(2, 11, 4, pde_scheme_type::crank_nicolson, false), Error);
  EXPECT_THROW(harness(1, 11, 4, pde_scheme_type::craig_sneyd, false), Error);
  EXPECT_THROW(harness(2, 11, 4, pde_scheme_type::craig_sneyd, false, true), Error);
}

}  // namespace
}  // namespace tarvex
