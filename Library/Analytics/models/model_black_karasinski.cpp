#include "Analytics/models/model_black_karasinski.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Core/check.h"
#include "Math/gaussian_quadrature.h"
#include "Math/karhunen_loeve_expansion.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"
#include "Util/datetime_helper.h"

namespace tarvex {

model_black_karasinski::model_black_karasinski(const parameter_black_karasinski& parameter,
                                               const datetime& valuation_date, const std::vector<datetime>& dates,
                                               bool flag)
    : parameter_(parameter), valuation_date_(valuation_date), dates_(dates), flag_(flag) {
  time_step_ = time(valuation_date_.add_days(parameter_.time_step_in_days()));
  gaussian_quadrature::gauss_hermite_coefficients(static_cast<std::size_t>(parameter_.number_of_roots()), roots_,
                                                  weights_, true, 2.220446049250313e-16, 20);
  for (std::size_t k = 0; k < roots_.size(); ++k) {
    roots_[k] *= 1.4142135623730951;
    weights_[k] /= 1.772453850905516;
  }
  const auto& hjm = *parameter_.parameters();
  hjm_model_ = std::make_unique<model_markovian_hjm>(hjm, valuation_date_, dates_, false, std::vector<datetime>{});
  for (const auto& d : parameter_.levels_parameter_dates()) levels_times_.push_back(time(d));
  for (const auto& d : hjm.volatilities_dates()) volatilities_times_.push_back(time(d));
  const auto& v = hjm.volatilities();
  for (std::size_t k = 0; k < v.size(); ++k) volatilities_square_.push_back(v.data()[k] * v.data()[k]);
  // The inner model's own blocks (its get/set walk), not the parameter entries it
  // also reserves room for in gradient arrays.
  reserve_state_parameters(hjm_model_->state_parameters_size() - hjm.state_parameters_size());
  levels_offset_ = reserve_state_parameters(levels_times_.size());
  finish_layout();
  datetime_helper::interpolate_from_subset_dates(hjm_model_->model_dates(), parameter_.levels_parameter_dates(),
                                                 levels_index_);
}

model_black_karasinski::~model_black_karasinski() = default;

double model_black_karasinski::time(const datetime& d) const {
  return parameter_.parameters()->day_convention()->fraction(valuation_date_, d);
}

double model_black_karasinski::decay(const datetime& t) const {
  vector<double> g(1);
  hjm_model_->decay(t, hjm_model_->date_offset(t), g);
  return g[0];
}

double model_black_karasinski::variance(const datetime& t) const {
  // sum over volatility pieces of sigma^2 int_a^b exp(-2 kappa (t - s)) ds.
  const double kappa = parameter_.mean_reversion(), end = time(t);
  double total = 0.0, start = 0.0;
  for (std::size_t j = 0; j < volatilities_times_.size() && start < end; ++j) {
    const double b = j + 1 == volatilities_times_.size() ? end : std::min(end, volatilities_times_[j]);
    if (b <= start) continue;
    const double x = 2.0 * kappa;
    const double piece = std::fabs(x) < std::numeric_limits<double>::epsilon()
                             ? b - start
                             : std::exp(-x * (end - b)) * -std::expm1(-x * (b - start)) / x;
    total += volatilities_square_[j] * piece;
    start = b;
  }
  return total;
}

void model_black_karasinski::conditional_values(const vector<double>& x, const datetime& t, const datetime& T,
                                                vector<double>& out) const {
  if (t == T) {
    out.fill(0.0);
    return;
  }
  const karhunen_loeve_expansion expansion(time(t), time(T), parameter_.mean_reversion(),
                                           parameter_.levels_parameter(), levels_times_, volatilities_square_,
                                           volatilities_times_, time_step_);
  expansion.survival_probability(x, decay(t), roots_, weights_, out);
  for (std::size_t p = 0; p < out.size(); ++p) out[p] = std::log(out[p]);
}

void model_black_karasinski::conditional_price(const matrix<double>& states, const datetime& t, const datetime& T,
                                               vector<double>& out) const {
  details::check_size(states.columns(), out.size());
  const vector<double> x = vector<double>::view(const_cast<double*>(states.row_data(0)), states.columns());
  conditional_values(x, t, T, out);
}

void model_black_karasinski::conditional_price(double* out, const std::shared_ptr<const space_grid>* grids,
                                               const datetime& t, const datetime& T) const {
  const auto& axis = grids[0]->axis();
  vector<double> values = vector<double>::view(out, axis.size());
  conditional_values(axis, t, T, values);
}

std::size_t model_black_karasinski::grid_index(const datetime& d) const {
  const auto it = std::lower_bound(dates_.begin(), dates_.end(), d);
  TARVEX_CHECK(it != dates_.end() && *it == d, "date ", d.to_string(), " is not on the model's grid");
  return static_cast<std::size_t>(it - dates_.begin());
}

void model_black_karasinski::coefficients(const std::shared_ptr<const pde_model_coefficients>* coefficients,
                                          const std::shared_ptr<const space_grid>* grids, const datetime& t,
                                          const datetime& T) const {
  const auto& axis = grids[0]->axis();
  auto& reaction = coefficients[0]->reaction();
  details::check_size(axis.size(), reaction.size());
  const double tau = parameter_.parameters()->day_convention()->fraction(t, T);
  const double c = parameter_.levels_parameter()[parameter_.levels_parameter_offset(t)] + std::log(tau / 2.0);
  const double gt = decay(t), gT = decay(T);
  const double v = hjm_model_->incremental_volatility_sv()(grid_index(T), 0);
  coefficients[0]->convection().fill(0.0);
  coefficients[0]->diffusion().fill(0.5 * v * v);
  for (std::size_t j = 0; j < axis.size(); ++j)
    reaction.data()[j] = -(std::exp(gt * axis[j] + c) + std::exp(gT * axis[j] + c));
}

void model_black_karasinski::simulation_step(const std::shared_ptr<const change_of_measure>& measure_change,
                                             std::uint64_t j, const matrix<double>& draws, matrix<double>& previous,
                                             matrix<double>& states) const {
  TARVEX_CHECK(j >= 1 && j < dates_.size(), "simulation step ", j, " is outside 1..", dates_.size() - 1);
  TARVEX_CHECK(states.rows() == 2 && draws.rows() >= 1, "states rows ", states.rows(), " draws rows ", draws.rows());
  const std::size_t paths = states.columns();
  details::check_size(draws.columns(), paths);
  if (previous.rows() != states.rows() || previous.columns() != paths) previous = matrix<double>(2, paths);
  std::copy_n(states.data(), states.size(), previous.data());

  const double v = hjm_model_->incremental_volatility_sv()(j, 0);
  const double g0 = decay(dates_[j - 1]), g1 = decay(dates_[j]);
  const double l = parameter_.levels_parameter()[parameter_.levels_parameter_offset(dates_[j - 1])];
  const double half_tau = 0.5 * parameter_.parameters()->day_convention()->fraction(dates_[j - 1], dates_[j]);
  const double m = measure_change ? measure_change->drift(j, 0) : 0.0;
  const double* __restrict z = draws.row_data(0);
  const double* __restrict x0 = previous.row_data(0);
  double* __restrict x = states.row(0).data();
  double* __restrict y = states.row(1).data();
  for (std::size_t p = 0; p < paths; ++p) {
    const double next = x0[p] + v * (z[p] - m);
    y[p] += half_tau * (std::exp(l + g0 * x0[p]) + std::exp(l + g1 * next));
    x[p] = next;
  }
}

void model_black_karasinski::finalize_aad(double*) const {}

std::size_t model_black_karasinski::get_state_parameters(double* out) const {
  std::size_t offset = hjm_model_->get_state_parameters(out);
  for (double t : levels_times_) out[offset++] = t;
  return offset;
}

std::size_t model_black_karasinski::set_state_parameters(const double* in) {
  std::size_t offset = hjm_model_->set_state_parameters(in);
  for (double& t : levels_times_) t = in[offset++];
  return offset;
}

}  // namespace tarvex
