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
  TARVEX_CHECK(!incremental_volatility_sv_.empty(),
               "coefficients need the model built for simulation on the PDE dates (sv rows)");
  const double tau = parameter_->day_convention()->fraction(from, to);
  const std::size_t k = date_offset(from), k2 = date_offset(to);
  TARVEX_CHECK(k < incremental_volatility_sv_.rows(), "model date ", k, " has no sv row; sv has ",
               incremental_volatility_sv_.rows(), " rows");
  const double* c = covariance_slice(k);
  double c1 = 0.0, c2 = 0.0;
  for (std::size_t a = 0; a < n; ++a) {
    double r1 = 0.0, r2 = 0.0;
    for (std::size_t b = 0; b < n; ++b) {
      r1 += c[a * n + b] * integral_decay_(k, b);
      r2 += c[a * n + b] * integral_decay_(k2, b);
    }
    c1 += decay_(k, a) * r1;
    c2 += decay_(k2, a) * r2;
  }
  vector<double> mu_from(n), mu_to(n);
  state_drift(from, mu_from);
  state_drift(to, mu_to);
  for (std::size_t f = 0; f < n; ++f) {
    auto& reaction = out[f]->reaction();
    auto& convection = out[f]->convection();
    auto& diffusion = out[f]->diffusion();
    details::check_size(reaction.size(), nodes);
    details::check_size(convection.size(), nodes);
    details::check_size(diffusion.size(), nodes);
    convection.fill(0.0);
    const double* __restrict y = grids[f]->axis().data();
    double* __restrict r = reaction.data();
    const double d1 = decay_(k, f), d2 = decay_(k2, f), m1 = mu_from[f], m2 = mu_to[f];
    // Trapezoidal average of the short-rate terms at the two ends of the step.
    for (std::size_t p = 0; p < nodes; ++p) r[p] = -0.5 * tau * ((y[p] + m1) * d1 + c1 + (y[p] + m2) * d2 + c2);
    const double sv = incremental_volatility_sv_(k, f);
    diffusion.fill(0.5 * sv * sv);
  }
}

}  // namespace tarvex
