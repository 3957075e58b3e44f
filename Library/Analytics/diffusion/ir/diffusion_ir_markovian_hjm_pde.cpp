#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm_pde.h"

#include <algorithm>
#include <cmath>

#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/check.h"
#include "Core/error.h"
#include "Market/discount_curve.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

// The dates handed in merged with the parameter dates, as the model itself merges them:
// a model built for simulation on these has them as model dates.
std::vector<datetime> model_dates_for(const parameter_markovian_hjm& p, const std::vector<datetime>& dates) {
  TARVEX_CHECK(!dates.empty(), "a PDE diffusion needs dates");
  return model_markovian_hjm(p, dates.front(), dates, false, {}).model_dates();
}

const parameter_markovian_hjm& checked(const std::shared_ptr<const parameter_markovian_hjm>& p) {
  TARVEX_CHECK(p != nullptr, "Markovian HJM diffusion needs a parameter set");
  return *p;
}

// s_f(t) of z_f = s_f (x_f - mu_f): D_f(t) for mean-reverting factors, 1 otherwise (a
// decay-factor loading is a step function, not a decay of the state's spread).
void scale(const model_markovian_hjm& m, const datetime& t, vector<double>& out) {
  if (m.parameter().model_type() == parameter_markovian_hjm_type::mean_reversion)
    m.decay(t, m.date_offset(t), out);
  else
    out.fill(1.0);
}

// l / sinh l, its series where the quotient loses digits.
double over_sinh(double l) {
  return std::fabs(l) < 1e-4 ? 1.0 - l * l / 6.0 : l / std::sinh(l);
}

}  // namespace

void diffusion_ir_markovian_hjm_pde::state_covariance(const model_markovian_hjm& model, const datetime& t,
                                                      matrix<double>& out) {
  const std::size_t n = model.number_of_factors();
  vector<double> s(n);
  scale(model, t, s);
  model.states_variable_covariance(t, out);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) out(a, b) *= s[a] * s[b];
}

diffusion_ir_markovian_hjm_pde::diffusion_ir_markovian_hjm_pde(
    const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
    const std::shared_ptr<const parameter_markovian_hjm>& parameters,
    const std::vector<std::shared_ptr<const space_grid>>& grids)
    : diffusion_ir(dates, curve), parameters_(parameters), grids_(grids) {
  const auto& p = checked(parameters);
  const std::size_t n = p.number_of_factors();
  TARVEX_CHECK(grids.size() == n, "grids size ", grids.size(), " is differents from number of factors ", n);
  const auto simulation = model_dates_for(p, dates);
  model_ = std::make_shared<const model_markovian_hjm>(p, dates.front(), simulation, false, std::vector<datetime>{});
  line_coefficients_.resize(n);
  std::size_t widest = 0;
  for (const auto& g : grids) widest = std::max(widest, g->size());
  line_reaction_.resize(widest);
  line_convection_.resize(widest);
  line_diffusion_.resize(widest);
  for (std::size_t f = 0; f < n; ++f)
    for (std::size_t g = 0; g < n; ++g)
      line_coefficients_[f].push_back(
          std::make_shared<const pde_model_coefficients>(std::vector<std::size_t>{grids[f]->size()}, true));
}

diffusion_ir_markovian_hjm_pde::~diffusion_ir_markovian_hjm_pde() = default;

void diffusion_ir_markovian_hjm_pde::initial_states(vector<double>& states) const { states.fill(0.0); }

void diffusion_ir_markovian_hjm_pde::propagate(matrix<double>&, matrix<double>&, std::uint64_t,
                                               const matrix<double>&,
                                               const std::shared_ptr<const change_of_measure>&) const {
  throw NotImplementedError({"propagate", "Library/Analytics/diffusion/ir/diffusion_ir_markovian_hjm_pde", 0},
                            "propagate");
}

std::uint64_t diffusion_ir_markovian_hjm_pde::number_of_states() const { return parameters_->number_of_factors() + 1; }

std::uint64_t diffusion_ir_markovian_hjm_pde::number_of_factors() const { return parameters_->number_of_factors(); }

std::uint64_t diffusion_ir_markovian_hjm_pde::log_normalized_discounting_index() const {
  return parameters_->number_of_factors();
}

void diffusion_ir_markovian_hjm_pde::log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
                                            const datetime& T) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  const std::size_t n = parameters_->number_of_factors();
  vector<double> mu, s(n);
  model_->state_drift(t, mu);
  scale(*model_, t, s);
  matrix<double> x(n, states.columns());
  for (std::size_t f = 0; f < n; ++f) {
    const double inverse = 1.0 / s[f];
    for (std::size_t p = 0; p < states.columns(); ++p) x(f, p) = states(f, p) * inverse + mu[f];
  }
  model_->conditional_price(x, t, T, out);
  const double c = discount_curve_->log_df(t, T);
  out = out + c;
}

void diffusion_ir_markovian_hjm_pde::coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                                                  const datetime& from, const datetime& to) const {
  const std::size_t n = parameters_->number_of_factors();
  TARVEX_CHECK(out.size() == n, "coefficients size ", out.size(), " is differents from number of factors ", n);
  // The header's change of variable, per factor on its own line (the model reads the z
  // nodes as y), then spread over the product grid (grid f has stride N_0 ... N_{f-1}).
  const double tau = parameters_->day_convention()->fraction(from, to);
  vector<double> d1(n), d2(n), s1(n), s2(n);
  model_->decay(from, model_->date_offset(from), d1);
  model_->decay(to, model_->date_offset(to), d2);
  scale(*model_, from, s1);
  scale(*model_, to, s2);
  std::size_t stride = 1;
  for (std::size_t f = 0; f < n; ++f) {
    const std::vector<std::shared_ptr<const space_grid>> same(n, grids_[f]);
    model_->coefficients(line_coefficients_[f], same, from, to);
    const auto& line = *line_coefficients_[f][f];
    const std::size_t size = grids_[f]->size();
    const double* z = grids_[f]->axis().data();
    const double* r = line.reaction().data();
    const double* d = line.diffusion().data();
    // The model's reaction holds y = z over the step, with slope -tau (D1 + D2) / 2;
    // z's is -tau (D1 / s1 + D2 / s2) / 2.
    const double slope = 0.5 * tau * (d1[f] * (1.0 - 1.0 / s1[f]) + d2[f] * (1.0 - 1.0 / s2[f]));
    const double l = std::log(s2[f] / s1[f]);
    const double variance = s1[f] * s2[f] * over_sinh(l);
    for (std::size_t i = 0; i < size; ++i) {
      line_reaction_[i] = r[i] + slope * z[i];
      line_convection_[i] = l * z[i];
      line_diffusion_[i] = variance * d[i];
    }
    auto& target = *out[f];
    const std::size_t nodes = target.reaction().size();
    double* tr = target.reaction().data();
    double* tc = target.convection().data();
    double* td = target.diffusion().data();
    // Blocks of `stride` nodes share a coordinate of grid f; the blocks cycle through it.
    for (std::size_t start = 0; start < nodes; start += stride * size)
      for (std::size_t i = 0; i < size; ++i) {
        const std::size_t first = start + i * stride;
        std::fill_n(tr + first, stride, line_reaction_[i]);
        std::fill_n(tc + first, stride, line_convection_[i]);
        std::fill_n(td + first, stride, line_diffusion_[i]);
      }
    stride *= size;
  }
}

}  // namespace tarvex
