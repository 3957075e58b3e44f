#include "Analytics/pde/black_karasinski_pde_solver.h"

#include <algorithm>
#include <cmath>

#include "Analytics/calibration/calibration_black_karasinski_settings.h"
#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Core/check.h"
#include "Math/discretization.h"
#include "PDE/time_grid.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {
constexpr double theta = 0.29289321881345254;  // 1 - 1/sqrt(2)
constexpr double epsilon = 2.220446049250313e-16;
}  // namespace

black_karasinski_pde_solver::black_karasinski_pde_solver(const datetime& valuation_date, std::vector<double>& levels,
                                                         const parameter_black_karasinski& parameter,
                                                         const std::vector<datetime>& calibration_dates,
                                                         const calibration_black_karasinski_settings& settings)
    : parameter_(parameter),
      levels_(levels),
      size_(settings.pde_grid_size()),
      pde_span_(settings.pde_span()),
      backward_(settings.backward()) {
  // Backward mode reads the value at x = 0, so 0 must be a node.
  if (backward_ && size_ % 2 == 0) ++size_;
  diagonal_ = vector<double>(size_);
  states_ = vector<double>(size_);
  elimination_factors_ = vector<double>(size_);
  previous_ = vector<double>(size_);
  result_ = vector<double>(size_);
  exp_states_ = vector<double>(size_);
  checkpoint_ = vector<double>(size_);
  lower_ = vector<double>(size_);
  upper_ = vector<double>(size_);
  checkpoint_levels_.reserve(levels_.size());
  const time_grid_config config(0, 0, true, settings.step(), settings.period(), settings.minimum_step());
  const tarvex::time_grid grid(config, valuation_date, calibration_dates.back(), calibration_dates, calibration_dates);
  dates_ = grid.dates();
  datetime_helper::index_subset_dates(dates_, parameter_.levels_parameter_dates(), levels_dates_index_);
  levels_offsets_.resize(dates_.size());
  step_lengths_.assign(dates_.size(), 0.0);
  const auto& convention = *parameter_.parameters()->day_convention();
  for (std::size_t i = 0; i < dates_.size(); ++i) {
    levels_offsets_[i] = parameter_.levels_parameter_offset(dates_[i]);
    if (i > 0) step_lengths_[i] = convention.fraction(dates_[i - 1], dates_[i]);
  }
  variances_.resize(dates_.size());
  decay_factors_.resize(dates_.size());
}

void black_karasinski_pde_solver::update(const model_black_karasinski& model) {
  const auto& sv = model.hjm_model().incremental_volatility_sv();
  details::check_size(dates_.size(), sv.size());
  bool unit = true;
  for (std::size_t i = 0; i < dates_.size(); ++i) {
    // The decay on each grid date; the inner model's own rows follow its model dates,
    // which hold the HJM parameter dates besides the grid.
    decay_factors_[i] = model.decay(dates_[i]);
    // sigma^2 dt of y over the step. g_{i-1} g_i sv_i^2 = sigma^2 sinh(kappa dt) / kappa
    // is that to second order; the exact step variance of y, g_i^2 sv_i^2, would not
    // be (the scheme's own mean reversion already takes its share off).
    variances_[i] = (i > 0 ? decay_factors_[i - 1] : decay_factors_[i]) * decay_factors_[i] * sv(i, 0) * sv(i, 0);
    unit = unit && std::fabs(decay_factors_[i] - 1.0) < epsilon;
  }
  lognormal_states_ = unit;
  checkpoint_index_ = 0;
}

void black_karasinski_pde_solver::update(const std::vector<double>& shifts) {
  shifts_ = shifts;
  checkpoint_index_ = 0;
}

void black_karasinski_pde_solver::update_states(double std_dev) {
  const double w = std_dev * pde_span_, h = 2.0 * w / static_cast<double>(size_ - 1);
  spacing_ = h;
  checkpoint_index_ = 0;
  scaled_theta_ = theta / (2.0 * h * h);
  discretization::uniform(states_, size_, -w, w, 0.0);
  for (std::size_t j = 0; j < size_; ++j) exp_states_[j] = std::exp(states_[j]);
}

void black_karasinski_pde_solver::initial_result(const vector<double>& values) {
  details::check_size(size_, values.size());
  result_ = vector<double>::view(const_cast<double*>(values.data()), size_);
}

void black_karasinski_pde_solver::step(std::size_t i) {
  const std::size_t n = size_;
  const double s = shifts_.empty() ? 0.0 : shifts_[i];
  const double l = levels_[levels_offsets_[i - 1]];
  const double g0 = decay_factors_[i - 1], g1 = decay_factors_[i], tau = step_lengths_[i];
  const double a = -variances_[i] * scaled_theta_;
  off_diagonal_ = a;
  // kappa dt = ln(g_{i-1} / g_i), exact for a constant mean reversion on the step.
  convection_ = lognormal_states_ ? 0.0 : theta * std::log(g0 / g1) / (2.0 * spacing_);
  // theta rho_j = theta (tau/2) (r(s_{i-1}, y_j) + r(s_i, y_j)).
  const double rate_factor = 0.5 * theta * tau * std::exp(l) * (std::exp(g0 * s) + std::exp(g1 * s));
  double* __restrict d = diagonal_.data();
  const double* __restrict e = exp_states_.data();
  for (std::size_t j = 0; j < n; ++j) d[j] = 1.0 - 2.0 * a + rate_factor * e[j];
  d[0] += 2.0 * a;
  d[n - 1] += 2.0 * a;
  // Rows 0 and n-1 of M have no neighbours; rows j inside couple with
  // a -+ convection y_j. Forward mode solves with the transpose.
  double* __restrict lo = lower_.data();
  double* __restrict up = upper_.data();
  const double* __restrict y = states_.data();
  const double b = convection_;
  if (backward_) {
    for (std::size_t j = 1; j + 1 < n; ++j) {
      lo[j] = a - b * y[j];
      up[j] = a + b * y[j];
    }
    lo[0] = up[0] = lo[n - 1] = up[n - 1] = 0.0;
  } else {
    for (std::size_t j = 2; j + 1 < n; ++j) lo[j] = a + b * y[j - 1];
    for (std::size_t j = 1; j + 2 < n; ++j) up[j] = a - b * y[j + 1];
    lo[0] = lo[1] = up[n - 2] = up[n - 1] = 0.0;
    lo[n - 1] = a + b * y[n - 2];
    up[0] = a - b * y[1];
  }
  // Elimination and the first forward sweep in one pass, the stage combination and the
  // second forward sweep in another: the recurrences are latency-bound, and
  // interleaving independent ones lets them overlap.
  double* __restrict u = result_.data();
  double* __restrict before = previous_.data();
  double* __restrict c = elimination_factors_.data();
  double factor = 0.0, carry = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    const double inverse = 1.0 / (d[j] - lo[j] * factor);
    d[j] = inverse;
    factor = up[j] * inverse;
    c[j] = factor;
    const double value = u[j];
    before[j] = value;
    carry = (value - lo[j] * carry) * inverse;
    u[j] = carry;
  }
  for (std::size_t j = n - 1; j-- > 0;) u[j] -= c[j] * u[j + 1];
  carry = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    carry = (2.4142135623730945 * u[j] - 1.4142135623730945 * before[j] - lo[j] * carry) * d[j];
    u[j] = carry;
  }
  for (std::size_t j = n - 1; j-- > 0;) u[j] -= c[j] * u[j + 1];
}

double black_karasinski_pde_solver::survival_probability(std::size_t k, bool reset) {
  const std::size_t m = levels_dates_index_[k], centre = size_ / 2;
  if (!backward_) {
    // The steps up to grid index c read the levels up to levels_offsets_[c - 1].
    const std::size_t start = k > 0 ? levels_dates_index_[k - 1] : 0;
    const auto used = [&](std::size_t c) { return c > 0 ? levels_offsets_[c - 1] + 1 : 0; };
    const bool reuse = checkpoint_index_ > 0 && checkpoint_index_ <= m &&
                       std::equal(checkpoint_levels_.begin(), checkpoint_levels_.end(), levels_.begin()) &&
                       checkpoint_levels_.size() == used(checkpoint_index_);
    std::size_t first = 1;
    if (reuse) {
      std::copy_n(checkpoint_.data(), size_, result_.data());
      first = checkpoint_index_ + 1;
    } else {
      result_.fill(0.0);
      result_[centre] = 1.0;
    }
    for (std::size_t i = first; i <= m; ++i) {
      step(i);
      if (i == start && start > checkpoint_index_) {
        std::copy_n(result_.data(), size_, checkpoint_.data());
        checkpoint_index_ = start;
        checkpoint_levels_.assign(levels_.begin(), levels_.begin() + static_cast<std::ptrdiff_t>(used(start)));
      }
    }
    double mass = 0.0;
    for (std::size_t j = 0; j < size_; ++j) mass += result_[j];
    return mass;
  }
  if (reset) result_.fill(1.0);
  for (std::size_t i = m; i >= 1; --i) step(i);
  return result_[centre];
}

}  // namespace tarvex
