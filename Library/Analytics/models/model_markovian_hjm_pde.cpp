// PDE services of model_markovian_hjm: conditional prices on grid nodes and the
// coefficients of the backward equation between two dates.
#include <vector>

#include "Analytics/models/model_markovian_hjm.h"
#include "Core/check.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

// Every factor's axis lists the same flat node order, so all have the first one's size.
std::size_t checked_nodes(const std::vector<std::shared_ptr<const space_grid>>& grids, std::size_t n) {
  TARVEX_CHECK(grids.size() == n, "grids size ", grids.size(), " is differents from number of factors ", n);
  const std::size_t nodes = n > 0 ? grids[0]->size() : 0;
  for (const auto& g : grids) details::check_size(g->axis().size(), nodes);
  return nodes;
}

}  // namespace

void model_markovian_hjm::conditional_price(double* out, const std::vector<std::shared_ptr<const space_grid>>& grids,
                                            const datetime& s, const datetime& T) const {
  const std::size_t n = number_of_factors();
  const std::size_t nodes = checked_nodes(grids, n);
  const std::size_t k = date_offset(s);
  // Delta = I(T) - I(s) integrated on its own (the difference rounds away under fast
  // decay); Sigma = I(T) + I(s) = 2 I(s) + Delta.
  vector<double> delta(n), is(n), mu(n);
  integral_increment(s, T, delta.data());
  integral_decay(s, is);
  state_drift(s, mu);
  const double* c = covariance_slice(k);
  double q = 0.0;
  for (std::size_t a = 0; a < n; ++a) {
    double row = 0.0;
    for (std::size_t b = 0; b < n; ++b) row += c[a * n + b] * (2.0 * is[b] + delta[b]);
    q += delta[a] * row;
  }
  for (std::size_t p = 0; p < nodes; ++p) out[p] = -0.5 * q;
  for (std::size_t a = 0; a < n; ++a) {
    const double d = delta[a], m = mu[a];
    const double* __restrict y = grids[a]->axis().data();
    for (std::size_t p = 0; p < nodes; ++p) out[p] -= d * (m + y[p]);
  }
}

void model_markovian_hjm::coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                                       const std::vector<std::shared_ptr<const space_grid>>& grids,
                                       const datetime& from, const datetime& to) const {
  const std::size_t n = number_of_factors();
  const std::size_t nodes = checked_nodes(grids, n);
  TARVEX_CHECK(out.size() == n, "coefficients size ", out.size(), " is differents from number of factors ", n);
  // The covariance is kept on every model date only when those are the simulation dates;
  // any other model would be read on rows that belong to other dates.
  TARVEX_CHECK_TEXT(!analytic_mode_ && simulation_dates_ == model_dates_,
               "coefficients need a model whose model dates are its simulation dates; model dates ",
               model_dates_.size(), ", simulation dates ", simulation_dates_.size());
  const double tau = parameter_->day_convention()->fraction(from, to);
  const std::size_t k = date_offset(from), k2 = date_offset(to);
  vector<double> d1(n), d2(n), i1(n), i2(n), mu_from(n), mu_to(n);
  matrix<double> c1m(n, n), c2m(n, n);
  decay_step(k, from, d1.data());
  decay_step(k2, to, d2.data());
  integral_step(k, from, i1.data());
  integral_step(k2, to, i2.data());
  covariance_step(k, from, c1m.data());
  covariance_step(k2, to, c2m.data());
  state_drift(from, mu_from);
  state_drift(to, mu_to);
  // Short rate r = f(0, t) + D'(x + C I); the solution is discounted by today's curve, so
  // the reaction is minus the integral of r - f(0, t) over the step (trapezoidal). Its
  // state-free part D'C I is shared equally by the factors, whose reactions the schemes add.
  double c1 = 0.0, c2 = 0.0;
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) {
      c1 += d1[a] * c1m(a, b) * i1[b];
      c2 += d2[a] * c2m(a, b) * i2[b];
    }
  const double shared = 0.5 * tau * (c1 + c2) / static_cast<double>(n);
  for (std::size_t f = 0; f < n; ++f) {
    auto& reaction = out[f]->reaction();
    auto& convection = out[f]->convection();
    auto& diffusion = out[f]->diffusion();
    details::check_size(reaction.size(), nodes);
    details::check_size(convection.size(), nodes);
    details::check_size(diffusion.size(), nodes);
    // y = x - E x is a martingale: no convection.
    convection.fill(0.0);
    const double* __restrict y = grids[f]->axis().data();
    double* __restrict r = reaction.data();
    const double a1 = d1[f], a2 = d2[f], m1 = mu_from[f], m2 = mu_to[f];
    for (std::size_t p = 0; p < nodes; ++p) r[p] = -0.5 * tau * ((y[p] + m1) * a1 + (y[p] + m2) * a2) - shared;
    // Half the variance the state accrues over this step (integrated, like the reaction).
    diffusion.fill(0.5 * (c2m(f, f) - c1m(f, f)));
  }
}

}  // namespace tarvex
