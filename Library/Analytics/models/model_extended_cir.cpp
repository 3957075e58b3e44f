#include "Analytics/models/model_extended_cir.h"

#include <algorithm>
#include <cmath>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/parameters/parameter_extended_cir.h"
#include "Core/check.h"
#include "Util/datetime_helper.h"
#include "Vectorization/details/storage.h"

namespace tarvex {
namespace {

// (1 - e^{-x}) / x, 1 at 0.
double one_minus_exp_over(double x) { return std::fabs(x) < 1e-8 ? 1.0 - 0.5 * x : -std::expm1(-x) / x; }

// log1p(z) / z, 1 at 0.
double log1p_over(double z) { return std::fabs(z) < 1e-8 ? 1.0 - 0.5 * z : std::log1p(z) / z; }

// The CIR Riccati equations B' = 1 - kappa B - sigma^2 B^2 / 2, A' = -kappa theta B - phi
// over tau (time to the piece's end), from the terminal B0. Returns B(tau) and the
// integral of B over the piece. Written as a Moebius map with both numerator and
// denominator scaled by e^{-gamma tau / 2}, so nothing overflows for long pieces and
// sigma -> 0 or kappa -> 0 lose no digits (the logarithm of the denominator comes out
// through log1p).
struct riccati_piece {
  double B, integral;
};
riccati_piece riccati(double kappa, double sigma, double tau, double B0) {
  const double s2 = sigma * sigma;
  const double gamma = std::sqrt(kappa * kappa + 2.0 * s2);
  if (gamma == 0.0) return {B0 + tau, B0 * tau + 0.5 * tau * tau};
  const double E = std::exp(-gamma * tau);
  const double q = 0.5 * tau * one_minus_exp_over(gamma * tau);  // (1 - E) / (2 gamma)
  const double delta = 2.0 * s2 / (gamma + kappa);                // gamma - kappa without cancellation
  const double u = B0 * (delta + (gamma + kappa) * E) / (2.0 * gamma) + 2.0 * q;
  const double v = 1.0 + q * (s2 * B0 - delta);
  const double w = q * (B0 - 2.0 / (gamma + kappa));
  return {u / v, 2.0 * tau / (gamma + kappa) + 2.0 * w * log1p_over(s2 * w)};
}

// Andersen's quadratic-exponential draw with mean m and variance s2 from the normal z.
// psi_c = 1.5 as recommended; 1 - U is taken as Phi(-z) so the exponential tail keeps
// its digits.
inline double quadratic_exponential(double m, double s2, double z) {
  if (!(m > 0.0)) return 0.0;
  const double psi = s2 / (m * m);
  if (psi <= 1.5) {
    if (!(psi > 0.0)) return m;
    const double inv = 2.0 / psi;
    const double b2 = inv - 1.0 + std::sqrt(inv) * std::sqrt(inv - 1.0);
    const double r = std::sqrt(b2) + z;
    return m / (1.0 + b2) * r * r;
  }
  const double p = (psi - 1.0) / (psi + 1.0);
  const double tail = 0.5 * std::erfc(z * M_SQRT1_2);
  if (tail >= 1.0 - p) return 0.0;
  return m / (1.0 - p) * std::log((1.0 - p) / tail);
}

}  // namespace

model_extended_cir::model_extended_cir(const parameter_extended_cir& parameter, const datetime& valuation_date,
                                       const std::vector<datetime>& dates, bool pricing_only)
    : parameter_(&parameter), valuation_date_(valuation_date), dates_(dates), pricing_only_(pricing_only) {
  const std::size_t n = parameter.number_of_factors();
  TARVEX_CHECK(parameter.volatilities().columns() == n && parameter.shifts().columns() == n,
               "volatilities columns ", parameter.volatilities().columns(), " and shifts columns ",
               parameter.shifts().columns(), " differ from number of factors ", n);
  TARVEX_CHECK(!parameter.mean_reversion_speed_dates().empty() && !parameter.volatilities_dates().empty() &&
                   !parameter.shifts_dates().empty(),
               "extended CIR parameters need at least one date per block");
  model_dates_ = pricing_only_ ? std::vector<datetime>{valuation_date_} : dates_;
  datetime_helper::merge_dates(model_dates_, {valuation_date_}, model_dates_);
  datetime_helper::merge_dates(parameter.volatilities_dates(), parameter.mean_reversion_speed_dates(), model_dates_);
  datetime_helper::merge_dates(parameter.shifts_dates(), model_dates_, model_dates_);

  const std::size_t m = model_dates_.size();
  mean_reversion_speeds_index_.resize(m);
  volatilities_index_.resize(m);
  shifts_index_.resize(m);
  for (std::size_t u = 0; u < m; ++u) {
    mean_reversion_speeds_index_[u] =
        datetime_helper::date_offset(model_dates_[u], parameter.mean_reversion_speed_dates(), false);
    volatilities_index_[u] = datetime_helper::date_offset(model_dates_[u], parameter.volatilities_dates(), false);
    shifts_index_[u] = datetime_helper::date_offset(model_dates_[u], parameter.shifts_dates(), false);
  }

  cumulative_decays_ = matrix<double>(m, n, 1.0);
  const auto& convention = *parameter.day_convention();
  for (std::size_t u = 1; u < m; ++u) {
    const double tau = convention.fraction(model_dates_[u - 1], model_dates_[u]);
    for (std::size_t f = 0; f < n; ++f)
      cumulative_decays_(u, f) =
          cumulative_decays_(u - 1, f) * std::exp(-parameter.mean_reversion_speeds()(mean_reversion_speeds_index_[u], f) * tau);
  }
  cumulative_decays_offset_ = reserve_state_parameters(cumulative_decays_.size());
  if (!pricing_only_) {
    TARVEX_CHECK(!dates_.empty(), "an extended CIR model for simulation needs its dates");
    datetime_helper::interpolate_from_subset_dates(model_dates_, dates_, dates_index_);
    build_simulation_tables();
    initial_log_prices_offset_ = reserve_state_parameters(initial_log_prices_.size());
    simulation_coefficients_offset_ = reserve_state_parameters(simulation_coefficients_.size());
  }
  finish_layout();
}

std::size_t model_extended_cir::number_of_factors() const noexcept { return parameter_->number_of_factors(); }

model_extended_cir::rows model_extended_cir::rows_ending_at(const datetime& end) const {
  const std::size_t u = datetime_helper::date_offset(end, model_dates_, false);
  return {mean_reversion_speeds_index_[u], volatilities_index_[u], shifts_index_[u]};
}

template <class Visit>
void model_extended_cir::pieces_backward(const datetime& t, const datetime& T, Visit visit) const {
  datetime end = T;
  while (t < end) {
    const std::size_t u = datetime_helper::date_offset(end, model_dates_, false);
    datetime start = t;
    if (model_dates_[u] < end)  // beyond the grid: the last rows continue
      start = std::max(t, model_dates_[u]);
    else if (u > 0 && t < model_dates_[u - 1])
      start = model_dates_[u - 1];
    visit(rows{mean_reversion_speeds_index_[u], volatilities_index_[u], shifts_index_[u]}, start, end);
    end = start;
  }
}

void model_extended_cir::affine(const datetime& t, const datetime& T, double& A, double* B) const {
  const std::size_t n = number_of_factors();
  const auto& p = *parameter_;
  pieces_backward(t, T, [&](const rows& r, const datetime& start, const datetime& end) {
    const double tau = p.day_convention()->fraction(start, end);
    if (!(tau > 0.0)) return;
    for (std::size_t f = 0; f < n; ++f) {
      const double kappa = p.mean_reversion_speeds()(r.kappa, f), theta = p.long_term_levels()(r.kappa, f);
      const auto piece = riccati(kappa, p.volatilities()(r.sigma, f), tau, B[f]);
      A -= kappa * theta * piece.integral + p.shifts()(r.shift, f) * tau;
      B[f] = piece.B;
    }
  });
}

double model_extended_cir::initial_log_price(const datetime& t) const {
  const std::size_t n = number_of_factors();
  std::vector<double> B(n, 0.0);
  double A = 0.0;
  affine(valuation_date_, t, A, B.data());
  for (std::size_t f = 0; f < n; ++f) A -= B[f] * parameter_->initial_values()[f];
  return A;
}

void model_extended_cir::build_simulation_tables() {
  const std::size_t n = number_of_factors(), s = dates_.size();
  const auto& p = *parameter_;
  initial_log_prices_.resize(s);
  for (std::size_t j = 0; j < s; ++j) initial_log_prices_[j] = initial_log_price(dates_[j]);

  simulation_coefficients_ = matrix<double>(s, 4 * n + 2, 0.0);
  struct piece {
    rows r;
    double tau;
  };
  std::vector<piece> pieces;
  for (std::size_t k = 1; k < s; ++k) {
    pieces.clear();
    pieces_backward(dates_[k - 1], dates_[k], [&](const rows& r, const datetime& a, const datetime& b) {
      pieces.push_back({r, p.day_convention()->fraction(a, b)});
    });
    double* row = simulation_coefficients_.row(k).data();
    double shift_integral = 0.0;
    for (std::size_t f = 0; f < n; ++f) {
      // Moments compose over the pieces: mean a + b x, variance c + e x, each piece
      // adding its own variance at the previous piece's mean.
      double a = 0.0, b = 1.0, c = 0.0, e = 0.0;
      for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        const double kappa = p.mean_reversion_speeds()(it->r.kappa, f), theta = p.long_term_levels()(it->r.kappa, f);
        const double sigma = p.volatilities()(it->r.sigma, f), tau = it->tau;
        const double decay = std::exp(-kappa * tau), g = tau * one_minus_exp_over(kappa * tau);  // (1 - decay)/kappa
        const double a2 = theta * kappa * g, b2 = decay;
        const double e2 = sigma * sigma * decay * g, c2 = 0.5 * theta * sigma * sigma * kappa * g * g;
        c = c2 + e2 * a + b2 * b2 * c;
        e = e2 * b + b2 * b2 * e;
        a = a2 + b2 * a;
        b = b2 * b;
        shift_integral += p.shifts()(it->r.shift, f) * tau;
      }
      row[4 * f] = a, row[4 * f + 1] = b, row[4 * f + 2] = c, row[4 * f + 3] = e;
    }
    row[4 * n] = p.day_convention()->fraction(dates_[k - 1], dates_[k]);
    row[4 * n + 1] = shift_integral + initial_log_prices_[k] - initial_log_prices_[k - 1];
  }
}

void model_extended_cir::conditional_price(const matrix<double>& states, const datetime& t, const datetime& T,
                                           vector<double>& out) const {
  const std::size_t n = number_of_factors(), paths = out.size();
  details::check_size(states.columns(), paths);
  TARVEX_CHECK(states.rows() >= n, "states rows ", states.rows(), " is less than number of factors ", n);
  // Stack storage for the usual factor counts: pricing runs once per date and query.
  double stack[32];
  std::vector<double> heap;
  double* B = stack;
  if (n > 16) {
    heap.resize(2 * n);
    B = heap.data();
  }
  std::fill_n(B, 2 * n, 0.0);
  double A = 0.0;
  affine(t, T, A, B);
  const double A_tT = A;
  std::copy_n(B, n, B + n);
  // Carried on to the valuation date: log P(0, T | x(0)).
  affine(valuation_date_, t, A, B);
  double log_P0T = A;
  for (std::size_t f = 0; f < n; ++f) log_P0T -= B[f] * parameter_->initial_values()[f];
  double log_P0t = 0.0;
  const std::size_t j = pricing_only_ ? 0 : datetime_helper::date_offset(t, dates_, true);
  if (!pricing_only_ && dates_[j] == t)
    log_P0t = initial_log_prices_[j];
  else
    log_P0t = initial_log_price(t);
  const double scalar = A_tT - (log_P0T - log_P0t);
  double* __restrict o = out.data();
  for (std::size_t q = 0; q < paths; ++q) o[q] = scalar;
  for (std::size_t f = 0; f < n; ++f) {
    const double* __restrict x = states.row_data(f);
    const double b = B[n + f];
    for (std::size_t q = 0; q < paths; ++q) o[q] -= b * x[q];
  }
}

void model_extended_cir::simulation_step(const std::shared_ptr<const change_of_measure>& measure_change,
                                         std::uint64_t k, const matrix<double>& draws, matrix<double>& previous,
                                         matrix<double>& current) const {
  const std::size_t n = number_of_factors(), paths = current.columns();
  TARVEX_CHECK(!pricing_only_, "simulation_step needs a model built for simulation (pricing only is on)");
  TARVEX_CHECK(k >= 1 && k < dates_.size(), "simulation step ", k, " is outside 1..", dates_.size() - 1);
  TARVEX_CHECK(current.rows() == n + 1, "states rows ", current.rows(), " is differents from number of factors + 1 ",
               n + 1);
  TARVEX_CHECK(draws.rows() == n, "draws rows ", draws.rows(), " is differents from number of factors ", n);
  details::check_size(draws.columns(), paths);
  if (previous.rows() != current.rows() || previous.columns() != paths) previous = matrix<double>(n + 1, paths);
  std::copy_n(current.data(), current.size(), previous.data());

  const double* coefficients = simulation_coefficients_.row_data(k);
  const double half_tau = 0.5 * coefficients[4 * n], deterministic = coefficients[4 * n + 1];
  double* __restrict y = current.row(n).data();
  for (std::size_t p = 0; p < paths; ++p) y[p] += deterministic;
  for (std::size_t f = 0; f < n; ++f) {
    const double d = measure_change ? measure_change->drift(k, f) : 0.0;
    const double a = coefficients[4 * f], b = coefficients[4 * f + 1], c = coefficients[4 * f + 2],
                 e = coefficients[4 * f + 3];
    const double* __restrict w = draws.row_data(f);
    const double* __restrict x_prev = previous.row_data(f);
    double* __restrict x = current.row(f).data();
    // Two passes: the quadratic branch for every path, written without branches so the
    // loop vectorises, then the exponential branch for the few paths whose variance is
    // large against their squared mean (near the origin).
    for (std::size_t p = 0; p < paths; ++p) {
      const double x0 = x_prev[p];
      const double m = a + b * x0, s2 = c + e * x0;
      // Everything is computed unconditionally and selected at the end, so the loop
      // has no branch; the unselected values may be NaN (m = 0).
      const double s2_safe = s2 > 1e-300 ? s2 : 1e-300;
      const double inv_raw = 2.0 * m * m / s2_safe;  // 2 / psi
      const double inv = inv_raw < 1e150 ? inv_raw : 1e150;
      const double excess = inv > 1.0 ? inv - 1.0 : 0.0;
      const double b2 = inv - 1.0 + std::sqrt(inv * excess);
      const double r = std::sqrt(b2) + (w[p] - d);
      const double x1 = m / (1.0 + b2) * r * r;
      x[p] = m > 0.0 ? x1 : 0.0;
    }
    for (std::size_t p = 0; p < paths; ++p) {
      const double x0 = x_prev[p];
      const double m = a + b * x0, s2 = c + e * x0;
      if (s2 > 1.5 * m * m && m > 0.0) x[p] = quadratic_exponential(m, s2, w[p] - d);
      y[p] += half_tau * (x0 + x[p]);
    }
  }
}

void model_extended_cir::initial_states(vector<double>& states) const {
  const std::size_t n = number_of_factors(), paths = states.size() / (n + 1);
  TARVEX_CHECK(states.size() == (n + 1) * paths, "states size ", states.size(), " is not a multiple of ", n + 1);
  double* out = states.data();
  for (std::size_t f = 0; f < n; ++f) std::fill_n(out + f * paths, paths, parameter_->initial_values()[f]);
  std::fill_n(out + n * paths, paths, 0.0);
}

void model_extended_cir::finalize_aad(double*) const {}

std::size_t model_extended_cir::get_state_parameters(double* out) const {
  std::size_t offset = 0;
  out = std::copy_n(cumulative_decays_.data(), cumulative_decays_.size(), out);
  offset += cumulative_decays_.size();
  if (!pricing_only_) {
    out = std::copy(initial_log_prices_.begin(), initial_log_prices_.end(), out);
    std::copy_n(simulation_coefficients_.data(), simulation_coefficients_.size(), out);
    offset += initial_log_prices_.size() + simulation_coefficients_.size();
  }
  return offset;
}

std::size_t model_extended_cir::set_state_parameters(const double* in) {
  std::size_t offset = 0;
  std::copy_n(in, cumulative_decays_.size(), cumulative_decays_.data());
  offset += cumulative_decays_.size();
  if (!pricing_only_) {
    std::copy_n(in + offset, initial_log_prices_.size(), initial_log_prices_.begin());
    offset += initial_log_prices_.size();
    std::copy_n(in + offset, simulation_coefficients_.size(), simulation_coefficients_.data());
    offset += simulation_coefficients_.size();
  }
  return offset;
}

}  // namespace tarvex
