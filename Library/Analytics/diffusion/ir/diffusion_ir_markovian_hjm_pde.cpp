#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm_pde.h"

#include <algorithm>

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

}  // namespace

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
  vector<double> mu;
  model_->state_drift(t, mu);
  matrix<double> x(n, states.columns());
  for (std::size_t f = 0; f < n; ++f)
    for (std::size_t p = 0; p < states.columns(); ++p) x(f, p) = states(f, p) + mu[f];
  model_->conditional_price(x, t, T, out);
  const double c = discount_curve_->log_df(t, T);
  out = out + c;
}

void diffusion_ir_markovian_hjm_pde::coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                                                  const datetime& from, const datetime& to) const {
  const std::size_t n = parameters_->number_of_factors();
  TARVEX_CHECK(out.size() == n, "coefficients size ", out.size(), " is differents from number of factors ", n);
  if (n == 1) {
    model_->coefficients(out, grids_, from, to);
    return;
  }
  // Each factor's coefficients depend on its own coordinate only: fill them on its line
  // and spread them over the product grid (grid f has stride N_0 ... N_{f-1}).
  std::size_t stride = 1;
  for (std::size_t f = 0; f < n; ++f) {
    const std::vector<std::shared_ptr<const space_grid>> same(n, grids_[f]);
    model_->coefficients(line_coefficients_[f], same, from, to);
    const auto& line = *line_coefficients_[f][f];
    const std::size_t size = grids_[f]->size();
    auto& target = *out[f];
    const std::size_t nodes = target.reaction().size();
    const double* r = line.reaction().data();
    const double* c = line.convection().data();
    const double* d = line.diffusion().data();
    double* tr = target.reaction().data();
    double* tc = target.convection().data();
    double* td = target.diffusion().data();
    // Blocks of `stride` nodes share a coordinate of grid f; the blocks cycle through it.
    for (std::size_t start = 0; start < nodes; start += stride * size)
      for (std::size_t i = 0; i < size; ++i) {
        const std::size_t first = start + i * stride;
        std::fill_n(tr + first, stride, r[i]);
        std::fill_n(tc + first, stride, c[i]);
        std::fill_n(td + first, stride, d[i]);
      }
    stride *= size;
  }
}

}  // namespace tarvex
