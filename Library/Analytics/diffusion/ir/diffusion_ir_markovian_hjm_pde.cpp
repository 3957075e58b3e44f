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
// coefficients() inlines the same choice.
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
  decay_from_ = vector<double>(n);
  decay_to_ = vector<double>(n);
  for (std::size_t f = 0; f < n; ++f) same_grids_.emplace_back(n, grids[f]);
  if (n > 1) line_coefficients_.resize(n);
  for (std::size_t f = 0; f < n && n > 1; ++f)
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
  // nodes as y), changed in place, then spread over the product grid (grid f has stride
  // N_0 ... N_{f-1}). One factor: the line is the grid.
  const double tau = parameters_->day_convention()->fraction(from, to);
  model_->decay(from, model_->date_offset(from), decay_from_);
  model_->decay(to, model_->date_offset(to), decay_to_);
  const bool decaying = parameters_->model_type() == parameter_markovian_hjm_type::mean_reversion;
  std::size_t stride = 1;
  for (std::size_t f = 0; f < n; ++f) {
    const auto& line = n == 1 ? *out[0] : *line_coefficients_[f][f];
    model_->coefficients(n == 1 ? out : line_coefficients_[f], same_grids_[f], from, to);
    const std::size_t size = grids_[f]->size();
    const double* z = grids_[f]->axis().data();
    double* r = line.reaction().data();
    double* c = line.convection().data();
    double* d = line.diffusion().data();
    const double d1 = decay_from_[f], d2 = decay_to_[f];
    const double s1 = decaying ? d1 : 1.0, s2 = decaying ? d2 : 1.0;
    // The model's reaction holds y = z over the step, with slope -tau (D1 + D2) / 2;
    // z's is -tau (D1 / s1 + D2 / s2) / 2.
    const double slope = 0.5 * tau * (d1 * (1.0 - 1.0 / s1) + d2 * (1.0 - 1.0 / s2));
    const double l = std::log(s2 / s1);
    const double variance = s1 * s2 * over_sinh(l);
    for (std::size_t i = 0; i < size; ++i) {
      r[i] += slope * z[i];
      c[i] = l * z[i];
      d[i] *= variance;
    }
    if (n == 1) return;
    auto& target = *out[f];
    const std::size_t nodes = target.reaction().size();
    double* tr = target.reaction().data();
    double* tc = target.convection().data();
    double* td = target.diffusion().data();
    // Blocks of `stride` nodes share a coordinate of grid f; the blocks cycle through it.
    for (std::size_t start = 0; start < nodes; start += stride * size) {
      if (stride == 1) {
        std::copy_n(r, size, tr + start);
        std::copy_n(c, size, tc + start);
        std::copy_n(d, size, td + start);
        continue;
      }
      for (std::size_t i = 0; i < size; ++i) {
        const std::size_t first = start + i * stride;
        std::fill_n(tr + first, stride, r[i]);
        std::fill_n(tc + first, stride, c[i]);
        std::fill_n(td + first, stride, d[i]);
      }
    }
    stride *= size;
  }
}

}  // namespace tarvex
