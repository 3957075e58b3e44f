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
  inverse_pivots_ = vector<double>(size_);
  ul_factors_ = vector<double>(size_);
  lower_pairs_ = vector<double>(size_);
  elimination_pairs_ = vector<double>(size_);
  upper_pairs_ = vector<double>(size_);
  ul_pairs_ = vector<double>(size_);
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
  log_decay_ratios_.assign(dates_.size(), 0.0);
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
  for (std::size_t i = 1; i < dates_.size(); ++i) log_decay_ratios_[i] = std::log(decay_factors_[i - 1] / decay_factors_[i]);
  // Rounding-level differences would make every step refactorise.
  const auto snap = [](std::vector<double>& v) {
    for (std::size_t i = 2; i < v.size(); ++i)
      if (std::fabs(v[i] - v[i - 1]) <= 1e-12 * std::fabs(v[i - 1])) v[i] = v[i - 1];
  };
  snap(variances_);
  snap(log_decay_ratios_);
  checkpoint_index_ = 0;
  factorised_ = false;
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
  factorised_ = false;
  discretization::uniform(states_, size_, -w, w, 0.0);
  for (std::size_t j = 0; j < size_; ++j) exp_states_[j] = std::exp(states_[j]);
}

void black_karasinski_pde_solver::initial_result(const vector<double>& values) {
  details::check_size(size_, values.size());
  result_ = vector<double>::view(const_cast<double*>(values.data()), size_);
}

void black_karasinski_pde_solver::factorise(double a, double b, double rate_factor) {
  const std::size_t n = size_;
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
  // UL from the bottom: e_j = d_j - up_j lo_{j+1} / e_{j+1}.
  double* __restrict ei = inverse_pivots_.data();
  double* __restrict f = ul_factors_.data();
  double ratio = 0.0;  // lo_{j+1} / e_{j+1}
  for (std::size_t j = n; j-- > 0;) {
    const double inverse = 1.0 / (d[j] - up[j] * ratio);
    ei[j] = inverse;
    ratio = lo[j] * inverse;
    f[j] = ratio;
  }
  // LU from the top: p_j = d_j - lo_j up_{j-1} / p_{j-1}; up/e then overwrites up.
  double* __restrict c = elimination_factors_.data();
  double factor = 0.0;  // up_{j-1} / p_{j-1}
  for (std::size_t j = 0; j < n; ++j) {
    const double inverse = 1.0 / (d[j] - lo[j] * factor);
    factor = up[j] * inverse;
    c[j] = factor;
    d[j] = inverse;
    lo[j] *= inverse;
    up[j] *= ei[j];
  }
  // Row 0 has no lower and row n-1 no upper neighbour, in either mode.
  lower_pairs_[0] = ul_pairs_[0] = 0.0;
  for (std::size_t j = 1; j < n; ++j) {
    lower_pairs_[j] = lo[j] * lo[j - 1];
    ul_pairs_[j] = f[j] * f[j - 1];
  }
  elimination_pairs_[n - 1] = upper_pairs_[n - 1] = 0.0;
  for (std::size_t j = 0; j + 1 < n; ++j) {
    elimination_pairs_[j] = c[j] * c[j + 1];
    upper_pairs_[j] = up[j] * up[j + 1];
  }
  factored_a_ = a;
  factored_b_ = b;
  factored_rate_ = rate_factor;
  factorised_ = true;
}

void black_karasinski_pde_solver::coefficients(std::size_t i, double& a, double& b, double& rate_factor) const {
  const double s = shifts_.empty() ? 0.0 : shifts_[i];
  const double l = levels_[levels_offsets_[i - 1]];
  const double g0 = decay_factors_[i - 1], g1 = decay_factors_[i], tau = step_lengths_[i];
  a = -variances_[i] * scaled_theta_;
  // kappa dt = ln(g_{i-1} / g_i), exact for a constant mean reversion on the step.
  b = lognormal_states_ ? 0.0 : theta * log_decay_ratios_[i] / (2.0 * spacing_);
  // theta rho_j = theta (tau/2) (r(s_{i-1}, y_j) + r(s_i, y_j)).
  rate_factor = 0.5 * theta * tau * std::exp(l) * (std::exp(g0 * s) + std::exp(g1 * s));
}

bool black_karasinski_pde_solver::step(std::size_t i, std::size_t next, bool swept) {
  const std::size_t n = size_;
  constexpr double alpha = 2.4142135623730945, beta = 1.4142135623730945;  // 1 + sqrt2, sqrt2
  // Stage one: u* = M^-1 u by LU; stage two: u' = M^-1 ((1 + sqrt2) u* - sqrt2 u) by UL.
  // Sweeps: L up from node 0 (previous_ keeps u), then U and stage two's upper sweep
  // together down from the last node, then stage two's lower sweep. Each recurrence
  // z_j = r_j - m_j z_{j-1} runs two nodes at a time (see the pair arrays).
  double* __restrict u = result_.data();
  double* __restrict before = previous_.data();
  const double* __restrict pi = diagonal_.data();
  const double* __restrict lp = lower_.data();
  const double* __restrict lp2 = lower_pairs_.data();
  const double* __restrict c = elimination_factors_.data();
  const double* __restrict c2 = elimination_pairs_.data();
  const double* __restrict ei = inverse_pivots_.data();
  const double* __restrict ue = upper_.data();
  const double* __restrict ue2 = upper_pairs_.data();
  const double* __restrict f = ul_factors_.data();
  const double* __restrict f2 = ul_pairs_.data();
  std::size_t j = 0;
  if (!swept) {
    double a, b, rate_factor;
    coefficients(i, a, b, rate_factor);
    if (!factorised_for(a, b, rate_factor)) factorise(a, b, rate_factor);
    double y2 = 0.0, y1 = 0.0, r_previous = 0.0;  // y_{j-2}, y_{j-1}, r_{j-1}
    for (; j + 1 < n; j += 2) {
      const double u0 = u[j], u1 = u[j + 1];
      before[j] = u0;
      before[j + 1] = u1;
      const double r0 = u0 * pi[j], r1 = u1 * pi[j + 1];
      y2 = (r0 - lp[j] * r_previous) + lp2[j] * y2;
      y1 = (r1 - lp[j + 1] * r0) + lp2[j + 1] * y1;
      u[j] = y2;
      u[j + 1] = y1;
      r_previous = r1;
    }
    if (j < n) {
      before[j] = u[j];
      u[j] = u[j] * pi[j] - lp[j] * y1;
    }
  }
  {
    // s_j = u_j - c_j s_{j+1} (stage one's result) and w_j = R_j - ue_j w_{j+1},
    // R_j = (alpha s_j - beta u_j) / e_j; w overwrites previous_.
    double s2 = 0.0, s1 = 0.0, u_next = 0.0, w2 = 0.0, w1 = 0.0, r_next = 0.0;
    for (j = n; j >= 2; j -= 2) {
      const std::size_t a = j - 1, b = j - 2;
      const double ua = u[a], ub = u[b];
      s2 = (ua - c[a] * u_next) + c2[a] * s2;
      s1 = (ub - c[b] * ua) + c2[b] * s1;
      const double ra = (alpha * s2 - beta * before[a]) * ei[a];
      const double rb = (alpha * s1 - beta * before[b]) * ei[b];
      w2 = (ra - ue[a] * r_next) + ue2[a] * w2;
      w1 = (rb - ue[b] * ra) + ue2[b] * w1;
      before[a] = w2;
      before[b] = w1;
      u_next = ub;
      r_next = rb;
    }
    if (j == 1) {
      const double s0 = u[0] - c[0] * s1;
      before[0] = (alpha * s0 - beta * before[0]) * ei[0] - ue[0] * w1;
    }
  }
  bool fuse = false;
  if (next > 0) {
    double a, b, rate_factor;
    coefficients(next, a, b, rate_factor);
    fuse = factorised_for(a, b, rate_factor);
  }
  double v2 = 0.0, v1 = 0.0, w_previous = 0.0;  // v_{j-2}, v_{j-1}, w_{j-1}
  if (!fuse) {
    for (j = 0; j + 1 < n; j += 2) {
      const double w0 = before[j], w1 = before[j + 1];
      v2 = (w0 - f[j] * w_previous) + f2[j] * v2;
      v1 = (w1 - f[j + 1] * w0) + f2[j + 1] * v1;
      u[j] = v2;
      u[j + 1] = v1;
      w_previous = w1;
    }
    if (j < n) u[j] = before[j] - f[j] * v1;
    return false;
  }
  // This step's result v (into previous_) and the next step's first sweep on it.
  double y2 = 0.0, y1 = 0.0, r_previous = 0.0;
  for (j = 0; j + 1 < n; j += 2) {
    const double w0 = before[j], w1 = before[j + 1];
    v2 = (w0 - f[j] * w_previous) + f2[j] * v2;
    v1 = (w1 - f[j + 1] * w0) + f2[j + 1] * v1;
    before[j] = v2;
    before[j + 1] = v1;
    w_previous = w1;
    const double r0 = v2 * pi[j], r1 = v1 * pi[j + 1];
    y2 = (r0 - lp[j] * r_previous) + lp2[j] * y2;
    y1 = (r1 - lp[j + 1] * r0) + lp2[j + 1] * y1;
    u[j] = y2;
    u[j + 1] = y1;
    r_previous = r1;
  }
  if (j < n) {
    const double v = before[j] - f[j] * v1;
    before[j] = v;
    u[j] = v * pi[j] - lp[j] * y1;
  }
  return true;
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
    bool swept = false;
    for (std::size_t i = first; i <= m; ++i) {
      const bool keep = i == start && start > checkpoint_index_;
      swept = step(i, i < m && !keep ? i + 1 : 0, swept);
      if (keep) {
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
  bool swept = false;
  for (std::size_t i = m; i >= 1; --i) swept = step(i, i - 1, swept);
  return result_[centre];
}

}  // namespace tarvex
