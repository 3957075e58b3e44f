#include "Analytics/models/model_cheyette.h"

#include <algorithm>
#include <cmath>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Core/check.h"
#include "Math/gaussian_quadrature.h"
#include "Math/hartman_watson_distribution.h"
#include "Util/datetime_helper.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

constexpr double epsilon = 2.220446049250313e-16;

// A Kronrod rule of n non-negative nodes with all 2n - 1 weights (mirrored).
void kronrod_rule(std::size_t n, vector<double>& nodes, vector<double>& weights) {
  nodes = vector<double>(n);
  weights = vector<double>(2 * n - 1);
  vector<double> scratch(n);
  gaussian_quadrature::gauss_kronrod(n - 1, nodes, weights, scratch, 1e-14, 20);
  for (std::size_t k = 0; k + 1 < n; ++k) weights[2 * n - 2 - k] = weights[k];
}

// The step's numbers that do not depend on the path (see simulation_step).
struct step_constants {
  const double* sv;
  const double* mm;
  const double* ik;
  const double* ip;
  const double* dp;
  const double* rho;  // n x n row-major
  double di[16], u[16], d[16], b[16];
  double cap;
};

// One pass over the paths with the factor count fixed at compile time: every state of a
// path is loaded once from `current`, stored once to `previous` and, updated, once to
// `current`, so the step streams each row the fewest times (the copy to `previous` rides
// along instead of being a separate pass). The rows are distinct, so the loop carries no
// dependence between paths and vectorises.
template <std::size_t N>
[[gnu::always_inline]] inline void fused_step(const step_constants& s, const matrix<double>& draws,
                                              matrix<double>& previous, matrix<double>& current) {
  constexpr std::size_t yr = N * (N + 2), rows = N * (N + 3);
  const std::size_t paths = current.columns();
  double uu[N][N], vv[N][N], dy[N][N], cc[N][N], scale[N], ipg[N], di[N], su[N], sv[N], dd[N];
  for (std::size_t a = 0; a < N; ++a) {
    for (std::size_t b = 0; b < N; ++b) {
      uu[a][b] = 0.5 * s.u[a] * s.rho[a * N + b] * s.u[b];
      dy[a][b] = 0.5 * s.di[a] * (s.ik[b] + s.ip[b]);
      vv[a][b] = a <= b ? s.sv[a] * s.rho[a * N + b] * s.sv[b] : s.sv[b] * s.rho[b * N + a] * s.sv[a];
      cc[a][b] = s.sv[a] * s.rho[a * N + b] * s.mm[b];
    }
    scale[a] = s.b[a] * s.dp[a];
    ipg[a] = s.ip[a];
    di[a] = s.di[a];
    su[a] = s.u[a];
    sv[a] = s.sv[a];
    dd[a] = s.d[a];
  }
  const double cap = s.cap;
  const double* in[rows];
  double* before[rows];
  double* after[rows];
  const double* w[N];
  for (std::size_t r = 0; r < rows; ++r) {
    in[r] = current.row_data(r);
    before[r] = previous.row(r).data();
    after[r] = current.row(r).data();
  }
  for (std::size_t a = 0; a < N; ++a) w[a] = draws.row_data(a);
#if !defined(__clang__)  // clang vectorises it unasked (the rows are restrict-free but distinct)
#pragma GCC ivdep
#endif
  for (std::size_t p = 0; p < paths; ++p) {
    double x[N], Y[N][N], m[N], z[N];
    // Only the live rows move: the multiplier and spare rows are never read (see the
    // layout in model_cheyette.h), and streaming them cost a quarter of the step.
    // Y is symmetric: its upper triangle is read and stands for the lower one too.
    for (std::size_t a = 0; a < N; ++a) {
      x[a] = in[a][p];
      z[a] = w[a][p] - dd[a];
      for (std::size_t b = 0; b < N; ++b) Y[a][b] = in[N + (a <= b ? a * N + b : b * N + a)][p];
    }
    for (std::size_t a = 0; a < N; ++a) {
      before[a][p] = x[a];
      for (std::size_t b = 0; b < N; ++b) before[N + a * N + b][p] = Y[a][b];
    }
    before[yr][p] = in[yr][p];
    for (std::size_t f = 0; f < N; ++f) {
      double r = x[f];
      for (std::size_t g = 0; g < N; ++g) r += Y[f][g] * ipg[g];
      m[f] = std::min(std::fabs(1.0 + scale[f] * r), cap);
    }
    double acc = in[yr][p];
    for (std::size_t a = 0; a < N; ++a)
      for (std::size_t b = 0; b < N; ++b) acc += uu[a][b] * m[a] * m[b] + dy[a][b] * Y[a][b];
    for (std::size_t f = 0; f < N; ++f) acc += di[f] * x[f] + m[f] * su[f] * z[f];
    after[yr][p] = acc;
    for (std::size_t f = 0; f < N; ++f) {
      double drift = 0.0;
      for (std::size_t g = 0; g < N; ++g) drift += cc[f][g] * m[g];
      after[f][p] = x[f] - m[f] * (sv[f] * z[f] + drift);
    }
    // vv is symmetric and m_a m_b commutes: (a, b) and (b, a) get the same bits.
    for (std::size_t a = 0; a < N; ++a)
      for (std::size_t b = 0; b < N; ++b) after[N + a * N + b][p] = Y[a][b] + vv[a][b] * (m[a] * m[b]);
  }
}

// The same pass on SSE2 (any x86-64), AVX2 and AVX-512F, whichever the CPU has. None
// with FMA: no contraction, so all give the same bits and the paths do not depend on
// the machine's instruction set.
template <std::size_t N>
void fused_step_sse2(const step_constants& s, const matrix<double>& draws, matrix<double>& previous,
                     matrix<double>& current) {
  fused_step<N>(s, draws, previous, current);
}
template <std::size_t N>
[[gnu::target("avx2")]] void fused_step_avx2(const step_constants& s, const matrix<double>& draws,
                                             matrix<double>& previous, matrix<double>& current) {
  fused_step<N>(s, draws, previous, current);
}
template <std::size_t N>
[[gnu::target("avx512f")]] void fused_step_avx512(const step_constants& s, const matrix<double>& draws,
                                                 matrix<double>& previous, matrix<double>& current) {
  fused_step<N>(s, draws, previous, current);
}
template <std::size_t N>
void fused_step_dispatch(const step_constants& s, const matrix<double>& draws, matrix<double>& previous,
                         matrix<double>& current) {
  static const simd_level level = active_simd_level();
  if (level == simd_level::avx512)
    fused_step_avx512<N>(s, draws, previous, current);
  else if (level == simd_level::avx2)
    fused_step_avx2<N>(s, draws, previous, current);
  else
    fused_step_sse2<N>(s, draws, previous, current);
}

}  // namespace

model_cheyette::model_cheyette(const parameter_cheyette& parameter, const datetime& valuation_date,
                               const std::vector<datetime>& dates, bool skew_date_grid, bool decay_level)
    : parameter_(parameter),
      valuation_date_(valuation_date),
      dates_(dates),
      skew_date_grid_(skew_date_grid),
      decay_level_(decay_level) {
  const auto& skew_dates = parameter_.skew_parameter_dates();
  TARVEX_CHECK(!skew_dates.empty(), "skew dates size ", skew_dates.size(), " must be positive");
  if (!skew_date_grid_) {
    datetime_helper::merge_dates(skew_dates, dates_, model_dates_);
  } else {
    model_dates_ = skew_dates;
    if (valuation_date_ < model_dates_.front()) model_dates_.insert(model_dates_.begin(), valuation_date_);
  }
  hjm_model_ = std::make_unique<model_markovian_hjm>(*parameter_.parameters(), valuation_date_, dates_, false,
                                                     std::vector<datetime>{});
  datetime_helper::interpolate_from_subset_dates(model_dates_, skew_dates, skew_index_);
  date_skew_row_.resize(dates_.size());
  for (std::size_t i = 0; i < dates_.size(); ++i)
    date_skew_row_[i] = skew_index_[datetime_helper::date_offset(dates_[i], model_dates_, true)];
  reserve_state_parameters(hjm_model_->state_parameters_size());
  finish_layout();
  kronrod_rule(16, first_nodes_, first_weights_);
  kronrod_rule(25, second_nodes_, second_weights_);
  average_volatility_ = vector<double>(dates_.size());
  average_skewed_volatility_ = vector<double>(dates_.size());
  skewed_variance_.assign(dates_.size(), 0.0);
  plain_variance_.assign(dates_.size(), 0.0);
  skew_weight_.assign(dates_.size(), 0.0);
  fill_averages();
}

std::size_t model_cheyette::number_of_states() const noexcept {
  const std::size_t n = number_of_factors();
  return skew_date_grid_ ? 2 * n : n * (n + 3);
}

std::size_t model_cheyette::log_normalized_discounting_index() const noexcept {
  const std::size_t n = number_of_factors();
  return n * (n + 2);
}

void model_cheyette::fill() {
  hjm_model_->refresh();
  fill_averages();
}

void model_cheyette::fill_averages() {
  const auto& sv = hjm_model_->incremental_volatility_sv();
  const auto& convention = *parameter_.parameters()->day_convention();
  double a = 0.0, b = 0.0, w = 0.0;
  for (std::size_t i = 0; i < dates_.size(); ++i) {
    const double s = sv(i, 0), k = skew(i, 0);
    a += s * s;
    b += s * s * k * k;
    w += s * s * k;
    skewed_variance_[i] = b;
    plain_variance_[i] = a;
    skew_weight_[i] = w;
    if (dates_[i] == valuation_date_) {
      average_volatility_[i] = 0.0;
      average_skewed_volatility_[i] = 0.0;
      continue;
    }
    const double tau = convention.fraction(valuation_date_, dates_[i]);
    average_volatility_[i] = std::sqrt(a / tau);
    average_skewed_volatility_[i] = std::sqrt(b / tau);
  }
}

double model_cheyette::variance(const datetime& date) const {
  const auto it = std::find(dates_.begin(), dates_.end(), date);
  if (it == dates_.end()) return -1.0;
  return skewed_variance_[static_cast<std::size_t>(it - dates_.begin())];
}

double model_cheyette::smile_skew(const datetime& date) const {
  const auto it = std::find(dates_.begin(), dates_.end(), date);
  if (it == dates_.end()) return 0.0;
  const auto i = static_cast<std::size_t>(it - dates_.begin());
  if (!(plain_variance_[i] > 0.0)) return 0.0;
  const double rho = std::sqrt(skewed_variance_[i] / plain_variance_[i]);
  return skew_weight_[i] < 0.0 ? -rho : rho;
}

void model_cheyette::volatility(std::size_t i, const vector<double>& x, const vector<double>& y,
                                matrix<double>& out) const {
  TARVEX_CHECK(i < dates_.size(), "date index ", i, " is beyond the ", dates_.size(), " dates");
  details::check_size(x.size(), out.columns());
  const double bi = skewed_variance_[i], before = i > 0 ? skewed_variance_[i - 1] : 0.0;
  const double sigma_inc = std::sqrt(std::max(bi - before, 0.0));
  const double cap = 1.0 + 5.0 * std::expm1(bi);
  const double level =
      decay_level_ ? hjm_model_->integral_decay()(hjm_model_->simulation_index()[i], 0) : parameter_.long_term_skew_level();
  if (std::fabs(level) >= epsilon) {
    const double rho = level / skew(i, 0);
    details::check_size(y.size(), out.rows());
    for (std::size_t r = 0; r < y.size(); ++r)
      for (std::size_t c = 0; c < x.size(); ++c)
        out(r, c) = sigma_inc * std::min(std::fabs(1.0 + rho * y[r] + x[c]), cap);
  } else {
    for (std::size_t c = 0; c < x.size(); ++c) out(0, c) = sigma_inc * std::min(1.0 + x[c], cap);
  }
}

void model_cheyette::density(vector<double>& a, vector<double>& b, double t) const {
  hartman_watson_distribution::cheyette_density(a, b, t, first_nodes_, first_weights_, second_nodes_,
                                                second_weights_);
}

void model_cheyette::conditional_price(const matrix<double>& states, const datetime& t, const datetime& T,
                                       vector<double>& out) const {
  const std::size_t n = number_of_factors(), paths = out.size();
  details::check_size(states.columns(), paths);
  TARVEX_CHECK(states.rows() >= n + n * n, "states rows ", states.rows(), " is less than ", n + n * n);
  const auto& hjm = *hjm_model_;
  const std::size_t k = hjm.date_offset(t);
  double delta[16], sum[16];
  TARVEX_CHECK(n <= 16, "number of factors ", n, " is above 16");
  {
    vector<double> g = vector<double>::view(delta, n);
    hjm.integral_decay(T, g);
  }
  for (std::size_t a = 0; a < n; ++a) {
    const double g = delta[a], i = hjm.integral_decay()(k, a);
    delta[a] = g - i;
    sum[a] = g + i;
  }
  double* __restrict o = out.data();
  std::fill_n(o, paths, 0.0);
  // -Delta' Y Sigma / 2 per path, then -Delta' x.
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) {
      const double w = -0.5 * delta[a] * sum[b];
      const double* __restrict y = states.row_data(n + a * n + b);
      for (std::size_t p = 0; p < paths; ++p) o[p] += w * y[p];
    }
  for (std::size_t a = 0; a < n; ++a) {
    const double* __restrict x = states.row_data(a);
    const double da = delta[a];
    for (std::size_t p = 0; p < paths; ++p) o[p] -= da * x[p];
  }
}

void model_cheyette::simulation_step(const std::shared_ptr<const change_of_measure>& measure_change,
                                     std::uint64_t k, const matrix<double>& draws, matrix<double>& previous,
                                     matrix<double>& current) const {
  const std::size_t n = number_of_factors(), paths = current.columns(), rows = n * (n + 3);
  TARVEX_CHECK(!skew_date_grid_, "simulation_step needs a model built on the simulation dates (skew-date grid is on)");
  TARVEX_CHECK(k >= 1 && k < dates_.size(), "simulation step ", k, " is outside 1..", dates_.size() - 1);
  TARVEX_CHECK(current.rows() == rows, "states rows ", current.rows(), " is differents from n(n + 3) ", rows);
  TARVEX_CHECK(draws.rows() == n, "draws rows ", draws.rows(), " is differents from number of factors ", n);
  TARVEX_CHECK(n <= 16, "number of factors ", n, " is above 16");
  details::check_size(draws.columns(), paths);
  if (previous.rows() != rows || previous.columns() != paths) previous = matrix<double>(rows, paths);

  const auto& hjm = *hjm_model_;
  const auto& rho = parameter_.correlation();
  const std::size_t j = hjm.simulation_index()[k], jp = hjm.simulation_index()[k - 1];
  const double* sv = hjm.incremental_volatility_sv().row_data(k);
  const double* mm = hjm.incremental_volatility_mm().row_data(k);
  const double* ik = hjm.integral_decay().row_data(j);
  const double* ip = hjm.integral_decay().row_data(jp);
  const double* dp = hjm.decay().row_data(jp);
  double di[16], u[16], d[16];
  for (std::size_t f = 0; f < n; ++f) {
    di[f] = ik[f] - ip[f];
    u[f] = mm[f] - ik[f] * sv[f];
    d[f] = measure_change ? measure_change->drift(k, f) : 0.0;
  }
  const double cap = 1.0 + 5.0 * std::expm1(skewed_variance_[k - 1]);
  if (n <= 3) {
    step_constants s{sv, mm, ik, ip, dp, rho.data(), {}, {}, {}, {}, cap};
    for (std::size_t f = 0; f < n; ++f) {
      s.di[f] = di[f], s.u[f] = u[f], s.d[f] = d[f];
      s.b[f] = skew(k - 1, f);
    }
    if (n == 1) fused_step_dispatch<1>(s, draws, previous, current);
    if (n == 2) fused_step_dispatch<2>(s, draws, previous, current);
    if (n == 3) fused_step_dispatch<3>(s, draws, previous, current);
    return;
  }
  std::copy_n(current.data(), current.size(), previous.data());
  // Any factor count: the same arithmetic row by row.
  auto row = [&](std::size_t r) { return current.row(r).data(); };
  const std::size_t m0 = n + n * n, yr = n * (n + 2);

  // Local-volatility multipliers at the start of the step.
  for (std::size_t f = 0; f < n; ++f) {
    const double b = skew(k - 1, f), D = dp[f];
    const double* __restrict x = previous.row_data(f);
    double* __restrict m = row(m0 + f);
    for (std::size_t p = 0; p < paths; ++p) m[p] = x[p];
    for (std::size_t g = 0; g < n; ++g) {
      const double* __restrict Y = previous.row_data(n + f * n + g);
      const double i = ip[g];
      for (std::size_t p = 0; p < paths; ++p) m[p] += Y[p] * i;
    }
    for (std::size_t p = 0; p < paths; ++p) m[p] = std::min(std::fabs(1.0 + b * D * m[p]), cap);
  }
  // y += q/2 with q = (m o u)' rho (m o u) + Delta I' Y (I(k) + I(k-1)).
  double* __restrict y = row(yr);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) {
      const double uu = 0.5 * u[a] * rho(a, b) * u[b], dy = 0.5 * di[a] * (ik[b] + ip[b]);
      const double* __restrict ma = row(m0 + a);
      const double* __restrict mb = row(m0 + b);
      const double* __restrict Y = previous.row_data(n + a * n + b);
      for (std::size_t p = 0; p < paths; ++p) y[p] += uu * ma[p] * mb[p] + dy * Y[p];
    }
  // x -= m sv (W - d) + m sv sum_g rho m_g mm_g ; y += Delta I x_prev + m u (W - d).
  for (std::size_t f = 0; f < n; ++f) {
    const double* __restrict w = draws.row_data(f);
    const double* __restrict x_prev = previous.row_data(f);
    const double* __restrict mf = row(m0 + f);
    double* __restrict x = row(f);
    const double s = sv[f], df = d[f], dif = di[f], uf = u[f];
    for (std::size_t p = 0; p < paths; ++p) {
      const double z = w[p] - df;
      x[p] -= mf[p] * s * z;
      y[p] += dif * x_prev[p] + mf[p] * uf * z;
    }
    for (std::size_t g = 0; g < n; ++g) {
      const double c = s * rho(f, g) * mm[g];
      const double* __restrict mg = row(m0 + g);
      for (std::size_t p = 0; p < paths; ++p) x[p] -= c * mf[p] * mg[p];
    }
  }
  // Y += (m o sv)(m o sv)' o rho.
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) {
      const double v = sv[a] * rho(a, b) * sv[b];
      const double* __restrict ma = row(m0 + a);
      const double* __restrict mb = row(m0 + b);
      double* __restrict Y = row(n + a * n + b);
      for (std::size_t p = 0; p < paths; ++p) Y[p] += v * ma[p] * mb[p];
    }
}

void model_cheyette::finalize_aad(double*) const {}

std::size_t model_cheyette::get_state_parameters(double* out) const { return hjm_model_->get_state_parameters(out); }

std::size_t model_cheyette::set_state_parameters(const double* in) { return hjm_model_->set_state_parameters(in); }

}  // namespace tarvex
