#include "Analytics/models/model_markovian_hjm.h"

#include <algorithm>
#include <cmath>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/models/details/markovian_hjm_kernels.h"
#include "Analytics/models/hjm_integrals.h"
#include "Core/check.h"
#include "Math/cholesky_decomposition.h"
#include "Util/datetime_helper.h"

namespace tarvex {

using hjm_integrals::E;
using hjm_integrals::epsilon;
using hjm_integrals::F1;
using hjm_integrals::F2;
using hjm_integrals::G;
using hjm_integrals::H;

model_markovian_hjm::model_markovian_hjm(const parameter_markovian_hjm& parameter, const datetime& valuation_date,
                                         const std::vector<datetime>& simulation_dates, bool analytic_mode,
                                         const std::vector<datetime>& additional_dates)
    : parameter_(&parameter),
      valuation_date_(valuation_date),
      simulation_dates_(simulation_dates),
      analytic_mode_(analytic_mode),
      additional_dates_(additional_dates) {
  const auto& p = *parameter_;
  TARVEX_CHECK(!p.decays_dates().empty() && !p.volatilities_dates().empty(), "decays dates size ",
               p.decays_dates().size(), " and volatilities dates size ", p.volatilities_dates().size(),
               " must both be positive");
  if (analytic_mode_) {
    model_dates_ = {valuation_date_};
  } else {
    model_dates_ = simulation_dates_;
    if (model_dates_.empty() || valuation_date_ < model_dates_.front())
      model_dates_.insert(model_dates_.begin(), valuation_date_);
  }
  // Nothing accrues before the grid's first date: parameter or additional dates before
  // it (a set calibrated earlier, simulated from a later valuation date) are dropped, and
  // the rows they close govern nothing.
  const datetime start = model_dates_.front();
  datetime_helper::merge_dates(p.decays_dates(), p.volatilities_dates(), model_dates_);
  if (!additional_dates_.empty()) {
    const std::vector<datetime> merged = model_dates_;  // merge_dates' output must not alias an input
    datetime_helper::merge_dates(additional_dates_, merged, model_dates_);
  }
  model_dates_.erase(model_dates_.begin(), std::lower_bound(model_dates_.begin(), model_dates_.end(), start));
  // The row governing the interval that ends at each model date, by the rule stated in
  // parameter_markovian_hjm.h: the first parameter date not before it (the last row
  // beyond the last date). Row 0 of the grid takes the row in force at its date.
  decay_index_.resize(model_dates_.size());
  volatility_index_.resize(model_dates_.size());
  for (std::size_t i = 0; i < model_dates_.size(); ++i) {
    decay_index_[i] = datetime_helper::date_offset(model_dates_[i], p.decays_dates(), false);
    volatility_index_[i] = datetime_helper::date_offset(model_dates_[i], p.volatilities_dates(), false);
  }
  if (!analytic_mode_) datetime_helper::index_subset_dates(model_dates_, simulation_dates_, simulation_index_);

  const std::size_t m = model_dates_.size(), n = number_of_factors();
  // Gradient positions: the parameter set's entries come first, the model's blocks after.
  reserve_state_parameters(p.state_parameters_size());
  decay_ = matrix<double>(m, n);
  integral_decay_ = matrix<double>(m, n);
  decay_offset_ = reserve_state_parameters(m * n);
  integral_decay_offset_ = reserve_state_parameters(m * n);
  if (!analytic_mode_) {
    const std::size_t s = simulation_dates_.size();
    incremental_volatility_sv_ = matrix<double>(s, n);
    incremental_volatility_mm_ = matrix<double>(s, n);
    incremental_volatility_sv_offset_ = reserve_state_parameters(s * n);
    incremental_volatility_mm_offset_ = reserve_state_parameters(s * n);
    step_delta_ = matrix<double>(s, n);
    step_u_ = matrix<double>(s, n);
    step_c_ = matrix<double>(s, n);
    step_q_ = vector<double>(s);
  }
  covariance_ = tensor<double>({m, n, n});
  covariance_offset_ = reserve_state_parameters(m * n * n);
  finish_layout();
  refresh();
}

double model_markovian_hjm::time(const datetime& t) const {
  return parameter_->day_convention()->fraction(valuation_date_, t);
}

std::size_t model_markovian_hjm::date_offset(const datetime& t) const {
  return datetime_helper::date_offset(t, model_dates_, true);
}

model_markovian_hjm::step_rows model_markovian_hjm::rows_after(std::size_t i) const {
  const std::size_t j = std::min(i + 1, model_dates_.size() - 1);
  return {decay_index_[j], volatility_index_[j]};
}

double model_markovian_hjm::kappa(const step_rows& r, std::size_t f) const { return parameter_->decays()(r.decay, f); }
double model_markovian_hjm::sigma(const step_rows& r, std::size_t f) const {
  return parameter_->volatilities()(r.volatility, f);
}
double model_markovian_hjm::rho(std::size_t a, std::size_t b) const { return parameter_->correlation()(a, b); }

void model_markovian_hjm::refresh() {
  const std::size_t m = model_dates_.size(), n = number_of_factors();
  decay_.fill(0.0);
  integral_decay_.fill(0.0);
  covariance_.fill(0.0);
  const auto type = parameter_->model_type();
  for (std::size_t f = 0; f < n; ++f) {
    if (type == parameter_markovian_hjm_type::mean_reversion)
      decay_(0, f) = 1.0;
    else if (type == parameter_markovian_hjm_type::decay_factor)
      decay_(0, f) = parameter_->decays()(decay_index_[0], f);
  }
  for (std::size_t i = 1; i < m; ++i) {
    decay_step(i - 1, model_dates_[i], decay_.row(i).data());
    integral_step(i - 1, model_dates_[i], integral_decay_.row(i).data());
    if (analytic_mode_) covariance_step(i - 1, model_dates_[i], covariance_slice(i));
  }
  // The mean on every model date, so that state_drift adds one step instead of all.
  // Only the PDE road asks for it, on models built for simulation; an analytic model
  // (the calibration refreshes one per residual) walks the steps when asked instead.
  if (!analytic_mode_) {
    if (drift_.rows() != m || drift_.columns() != n) drift_ = matrix<double>(m, n, 0.0);
    std::fill_n(drift_.row(0).data(), n, 0.0);
    for (std::size_t i = 1; i < m; ++i) {
      std::copy_n(drift_.row_data(i - 1), n, drift_.row(i).data());
      drift_step(i - 1, model_dates_[i - 1], model_dates_[i], drift_.row(i).data());
    }
  }
  refresh_tail_integral(true);
  if (!analytic_mode_ && !simulation_dates_.empty()) {
    incremental_volatility_sv(simulation_dates_, incremental_volatility_sv_);
    incremental_volatility_mm(simulation_dates_, incremental_volatility_mm_);
    for (std::size_t k = 0; k < simulation_dates_.size(); ++k) {
      double* c = covariance_slice(simulation_index_[k]);
      const double* sv = incremental_volatility_sv_.row_data(k);
      const double* before = k > 0 ? covariance_slice(simulation_index_[k - 1]) : nullptr;
      for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b)
          c[a * n + b] = sv[a] * rho(a, b) * sv[b] + (before ? before[a * n + b] : 0.0);
    }
    prepare_simulation_steps();
  }
}

// Tail integrals S(i) = int_{t_i}^{t_{m-1}} D, summed backwards from the intervals'
// own integrals (recomputed, or read off I when the blocks were set from outside).
void model_markovian_hjm::refresh_tail_integral(bool recompute) {
  const std::size_t m = model_dates_.size(), n = number_of_factors();
  if (tail_integral_.rows() != m) tail_integral_ = matrix<double>(m, n);
  for (std::size_t f = 0; f < n; ++f) tail_integral_(m - 1, f) = 0.0;
  std::vector<double> piece(n);
  for (std::size_t i = m - 1; i-- > 0;) {
    if (recompute) {
      std::fill(piece.begin(), piece.end(), 0.0);
      add_integral_piece(i, model_dates_[i], model_dates_[i + 1], piece.data());
    } else {
      for (std::size_t f = 0; f < n; ++f) piece[f] = integral_decay_(i + 1, f) - integral_decay_(i, f);
    }
    for (std::size_t f = 0; f < n; ++f) tail_integral_(i, f) = tail_integral_(i + 1, f) + piece[f];
  }
}

// int_{t_k}^{t_j} D_f, k <= j. Once D has decayed below epsilon, I(t_j) - I(t_k) rounds
// to zero although the integral does not; the tail difference S(k) - S(j) keeps it. Of
// the two, the one with the smaller reference loses the fewest digits (the forward one
// while D does not decay, the tail one once it has).
double model_markovian_hjm::grid_increment(std::size_t k, std::size_t j, std::size_t f) const {
  const double forward = integral_decay_(j, f), tail = tail_integral_(k, f);
  return std::fabs(forward) <= std::fabs(tail) ? forward - integral_decay_(k, f) : tail - tail_integral_(j, f);
}

// Adds int_a^b D to out, for t_k <= a <= b within the interval after model date k (or
// beyond the last model date): D(a) times the integral of the decay relative to D(a),
// year fractions measured from t_k as the integral step measures them.
void model_markovian_hjm::add_integral_piece(std::size_t k, const datetime& a, const datetime& b, double* out) const {
  if (!(a < b)) return;
  const std::size_t n = number_of_factors();
  const auto r = rows_after(k);
  const auto& dc = *parameter_->day_convention();
  const bool on_grid = a == model_dates_[k];  // the common case: no lead to decay over
  const double lead = on_grid ? 0.0 : dc.fraction(model_dates_[k], a), tau = dc.fraction(model_dates_[k], b) - lead;
  switch (parameter_->model_type()) {
    case parameter_markovian_hjm_type::mean_reversion:
      for (std::size_t f = 0; f < n; ++f) {
        const double x = kappa(r, f), start = on_grid ? decay_(k, f) : decay_(k, f) * std::exp(-x * lead);
        out[f] += start * tau * E(-x * tau);
      }
      break;
    case parameter_markovian_hjm_type::decay_factor:
      for (std::size_t f = 0; f < n; ++f) out[f] += tau * kappa(r, f);
      break;
    default:
      break;
  }
}

void model_markovian_hjm::integral_increment(const datetime& s, const datetime& T, double* out) const {
  const std::size_t n = number_of_factors();
  if (T < s) {
    integral_increment(T, s, out);
    for (std::size_t f = 0; f < n; ++f) out[f] = -out[f];
    return;
  }
  std::fill(out, out + n, 0.0);
  const datetime& first = model_dates_.front();
  if (!(s < T) || !(first < T)) return;  // I is constant up to the grid's first date
  const datetime& a = s < first ? first : s;
  const std::size_t k = date_offset(a), kT = date_offset(T);
  if (k == kT) {
    add_integral_piece(k, a, T, out);
    return;
  }
  std::size_t from = k;  // the first model date on or after a
  if (model_dates_[k] < a) {
    add_integral_piece(k, a, model_dates_[k + 1], out);
    ++from;
  }
  add_increment_from(from, kT, T, out);
}

// Adds int_{t_k}^T D for model dates k <= kT = date_offset(T).
void model_markovian_hjm::add_increment_from(std::size_t k, std::size_t kT, const datetime& T, double* out) const {
  for (std::size_t f = 0, n = number_of_factors(); f < n; ++f) out[f] += grid_increment(k, kT, f);
  add_integral_piece(kT, model_dates_[kT], T, out);
}

// --- steps from model date i to t ------------------------------------------------

void model_markovian_hjm::decay_step(std::size_t i, const datetime& t, double* out) const {
  const std::size_t n = number_of_factors();
  std::copy_n(decay_.row_data(i), n, out);
  if (!(model_dates_[i] < t)) return;
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  switch (parameter_->model_type()) {
    case parameter_markovian_hjm_type::mean_reversion:
      for (std::size_t f = 0; f < n; ++f) out[f] *= std::exp(-kappa(r, f) * tau);
      break;
    case parameter_markovian_hjm_type::decay_factor:
      for (std::size_t f = 0; f < n; ++f) out[f] = kappa(r, f);
      break;
    default:
      break;
  }
}

void model_markovian_hjm::integral_step(std::size_t i, const datetime& t, double* out) const {
  const std::size_t n = number_of_factors();
  std::copy_n(integral_decay_.row_data(i), n, out);
  if (!(model_dates_[i] < t)) return;
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  switch (parameter_->model_type()) {
    case parameter_markovian_hjm_type::mean_reversion:
      // int_0^tau D_i e^{-kappa v} dv = D_i tau E(-kappa tau)
      for (std::size_t f = 0; f < n; ++f) out[f] += decay_(i, f) * tau * E(-kappa(r, f) * tau);
      break;
    case parameter_markovian_hjm_type::decay_factor:
      for (std::size_t f = 0; f < n; ++f) out[f] += tau * kappa(r, f);
      break;
    default:
      break;
  }
}

void model_markovian_hjm::covariance_step(std::size_t i, const datetime& t, double* out) const {
  const std::size_t n = number_of_factors();
  std::copy_n(covariance_slice(i), n * n, out);
  if (!(model_dates_[i] < t)) return;
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  const auto type = parameter_->model_type();
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      if (type == parameter_markovian_hjm_type::mean_reversion) {
        const double qa = sigma(r, a) / decay_(i, a), qb = sigma(r, b) / decay_(i, b);
        out[a * n + b] += qa * qb * rho(a, b) * tau * E((kappa(r, a) + kappa(r, b)) * tau);
      } else if (type == parameter_markovian_hjm_type::decay_factor) {
        out[a * n + b] += sigma(r, a) * rho(a, b) * sigma(r, b) * tau;
      }
      out[b * n + a] = out[a * n + b];
    }
  }
}

void model_markovian_hjm::drift_step(std::size_t j, const datetime& from, const datetime& to, double* out) const {
  if (!(from < to)) return;
  const std::size_t n = number_of_factors();
  const auto r = rows_after(j);
  const double tau = parameter_->day_convention()->fraction(from, to);
  // The money-market drift of x_a is -sum_b C'_ab(u) I_b(u), C' the covariance rate of the
  // states: every factor's integral pulls on every correlated state. Over the step, with
  // v = u - t_j, C'_ab = rho q_a q_b e^{(k_a + k_b) v} and I_b = I_j + D_j (1 - e^{-k_b v})/k_b,
  // whose integral is rho q_a q_b tau (I_j E(w_a + w_b) + D_j tau H(w_a, w_b)), w = k tau.
  for (std::size_t a = 0; a < n; ++a) {
    double sum = 0.0;
    for (std::size_t b = 0; b < n; ++b) {
      const double I = integral_decay_(j, b), rab = rho(a, b) * sigma(r, a) * sigma(r, b);
      if (parameter_->model_type() == parameter_markovian_hjm_type::decay_factor) {
        sum += rab * tau * (I + 0.5 * kappa(r, b) * tau);
      } else if (parameter_->model_type() == parameter_markovian_hjm_type::mean_reversion) {
        const double D = decay_(j, b), wa = kappa(r, a) * tau, wb = kappa(r, b) * tau;
        sum += rab / (decay_(j, a) * D) * tau * (I * E(wa + wb) + D * tau * H(wa, wb));
      }
    }
    out[a] -= sum;
  }
}

// --- at arbitrary dates ----------------------------------------------------------

void model_markovian_hjm::decay(const datetime& t, std::size_t i, vector<double>& out) const {
  const std::size_t n = number_of_factors();
  if (out.empty()) out = vector<double>(n);
  details::check_size(n, out.size());
  TARVEX_CHECK(i < model_dates_.size(), "model date index ", i, " is beyond the ", model_dates_.size(),
               " model dates");
  decay_step(i, t, out.data());
}

void model_markovian_hjm::integral_decay(const datetime& t, vector<double>& out) const {
  const std::size_t n = number_of_factors();
  if (out.empty()) out = vector<double>(n);
  details::check_size(n, out.size());
  integral_step(date_offset(t), t, out.data());
}

void model_markovian_hjm::states_variable_covariance(const datetime& t, matrix<double>& out) const {
  const std::size_t n = number_of_factors();
  if (out.empty()) out = matrix<double>(n, n);
  TARVEX_CHECK(out.rows() == n && out.columns() == n, "covariance output ", out.rows(), "x", out.columns(),
               " is differents from factors x factors ", n, "x", n);
  covariance_step(date_offset(t), t, out.data());
}

void model_markovian_hjm::decompose(matrix<double>& out, const datetime& t, const std::vector<datetime>& dates,
                                    bool subtract_start) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(out.rows() == dates.size() && out.columns() == n, "loadings ", out.rows(), "x", out.columns(),
               " is differents from dates x factors ", dates.size(), "x", n);
  vector<double> g(n);
  matrix<double> L;
  states_variable_covariance(t, L);
  if (n == 1) {
    L(0, 0) = std::sqrt(L(0, 0));
  } else if (n > 1) {
    cholesky_decomposition(L.data(), n, 'L');
    for (std::size_t a = 0; a < n; ++a)
      for (std::size_t b = a + 1; b < n; ++b) L(a, b) = 0.0;
  }
  for (std::size_t j = 0; j < dates.size(); ++j) {
    // I(d_j) - I(t) as an integral of its own: the difference rounds away under fast decay.
    if (subtract_start)
      integral_increment(t, dates[j], g.data());
    else
      integral_decay(dates[j], g);
    for (std::size_t b = 0; b < n; ++b) {
      double sum = 0.0;
      for (std::size_t a = b; a < n; ++a) sum += g[a] * L(a, b);
      out(j, b) = sum;
    }
  }
}

void model_markovian_hjm::state_drift(const datetime& t, vector<double>& out) const {
  const std::size_t n = number_of_factors();
  if (out.empty()) out = vector<double>(n);
  details::check_size(n, out.size());
  const std::size_t k = date_offset(t);
  if (drift_.rows() == model_dates_.size()) {
    std::copy_n(drift_.row_data(k), n, out.data());
  } else {
    out.fill(0.0);
    for (std::size_t i = 0; i < k; ++i) drift_step(i, model_dates_[i], model_dates_[i + 1], out.data());
  }
  drift_step(k, model_dates_[k], t, out.data());
}

// Walks the model intervals up to the last date, accumulating each factor's variance,
// and writes the square root of what accrued between consecutive dates.
template <class Variance>
void model_markovian_hjm::incremental_walk(const std::vector<datetime>& dates, matrix<double>& out,
                                           Variance variance) const {
  const std::size_t n = number_of_factors();
  if (dates.empty()) return;
  std::vector<double> acc(n, 0.0), prev(n, 0.0);
  std::size_t k = 0;
  if (dates[0] == valuation_date_ || dates[0] == model_dates_.front()) {
    for (std::size_t f = 0; f < n; ++f) out(0, f) = 0.0;
    k = 1;
  }
  for (std::size_t j = 0; k < dates.size() && j + 1 < model_dates_.size() && !(dates.back() < model_dates_[j + 1]);
       ++j) {
    const auto r = rows_after(j);
    const double tau = parameter_->day_convention()->fraction(model_dates_[j], model_dates_[j + 1]);
    for (std::size_t f = 0; f < n; ++f) acc[f] += variance(j, f, r, tau);
    if (model_dates_[j + 1] == dates[k]) {
      for (std::size_t f = 0; f < n; ++f) out(k, f) = std::sqrt(std::max(acc[f] - prev[f], 0.0));
      prev = acc;
      ++k;
    }
  }
  TARVEX_CHECK(k == dates.size(), "date ", k < dates.size() ? dates[k].to_string() : std::string(),
               " is not a model date");
}

void model_markovian_hjm::incremental_volatility_sv(const std::vector<datetime>& dates, matrix<double>& out) const {
  TARVEX_CHECK(out.rows() == dates.size() && out.columns() == number_of_factors(), "sv output ", out.rows(), "x",
               out.columns(), " is differents from dates x factors ", dates.size(), "x", number_of_factors());
  const auto type = parameter_->model_type();
  incremental_walk(dates, out, [&](std::size_t j, std::size_t f, const step_rows& r, double tau) {
    const double s = sigma(r, f);
    if (type == parameter_markovian_hjm_type::mean_reversion) {
      const double q = s / decay_(j, f);
      return q * q * tau * E(2 * kappa(r, f) * tau);
    }
    return type == parameter_markovian_hjm_type::decay_factor ? s * s * tau : 0.0;
  });
}

void model_markovian_hjm::incremental_volatility_mm(const std::vector<datetime>& dates, matrix<double>& out) const {
  TARVEX_CHECK(out.rows() == dates.size() && out.columns() == number_of_factors(), "mm output ", out.rows(), "x",
               out.columns(), " is differents from dates x factors ", dates.size(), "x", number_of_factors());
  const auto type = parameter_->model_type();
  incremental_walk(dates, out, [&](std::size_t j, std::size_t f, const step_rows& r, double tau) {
    const double s = sigma(r, f), k = kappa(r, f), I = integral_decay_(j, f), D = decay_(j, f);
    if (type == parameter_markovian_hjm_type::decay_factor) {
      const double I1 = I + k * tau;
      return s * s * tau * (I * I + I * I1 + I1 * I1) / 3.0;
    }
    if (type != parameter_markovian_hjm_type::mean_reversion) return 0.0;
    // int_0^tau (s/D)^2 (I e^{kv} + D expm1(kv)/k)^2 dv, each term scaled to stay exact as k -> 0.
    const double q = s / D, w = k * tau;
    return q * q * (I * I * tau * E(2 * w) + 2 * I * D * tau * tau * F1(w) + D * D * tau * tau * tau * F2(w));
  });
}

// --- conditional prices and the simulation step ----------------------------------

void model_markovian_hjm::conditional_price(const matrix<double>& states, const datetime& s, const datetime& T,
                                            vector<double>& out) const {
  const std::size_t n = number_of_factors(), paths = out.size();
  details::check_size(states.columns(), paths);
  TARVEX_CHECK(states.rows() >= n, "states rows ", states.rows(), " is less than number of factors ", n);
  const std::size_t k = date_offset(s);
  double delta[16], sum[16];
  std::vector<double> heap;
  double* d = delta;
  double* e = sum;
  if (n > 16) {  // rare: more factors than the stack buffers hold
    heap.resize(2 * n);
    d = heap.data();
    e = heap.data() + n;
  }
  // Delta = I(T) - I(t_k) integrated on its own (the difference rounds to 0 once D(t_k)
  // is below epsilon), Sigma = I(T) + I(t_k) = 2 I(t_k) + Delta.
  integral_increment(model_dates_[k], T, d);
  for (std::size_t a = 0; a < n; ++a) e[a] = 2.0 * integral_decay_(k, a) + d[a];
  const double* c = covariance_slice(k);
  double q = 0.0;
  for (std::size_t a = 0; a < n; ++a) {
    double row = 0.0;
    for (std::size_t b = 0; b < n; ++b) row += c[a * n + b] * e[b];
    q += d[a] * row;
  }
  hjm_details::kernels().conditional_price(n, paths, d, -0.5 * q, states.data(), out.data());
}

// int_{t_jp}^{t_j} s_f(u)^2 (I(t_j) - I(u)) (I(t_j) + I(u)) du, which equals
// I(t_j)^2 sv^2 - mm^2 over the step, from the increments h = I(t_j) - I(u) >= 0. Per
// interval, with v = t_{l+1} - u, h(v) = R + D_{l+1} expm1(kappa v)/kappa (R the increment
// from t_{l+1} to t_j) and s^2 = (sigma/D_{l+1})^2 e^{-2 kappa v}, so the integral is
// (sigma/D_{l+1})^2 (2 I(t_j) A1 - A2) with A1 = int e^{-2kv} h and A2 = int e^{-2kv} h^2.
double model_markovian_hjm::money_market_shortfall(std::size_t jp, std::size_t j, std::size_t f) const {
  const auto type = parameter_->model_type();
  const double ij = integral_decay_(j, f);
  double sum = 0.0;
  for (std::size_t l = jp; l < j; ++l) {
    const auto r = rows_after(l);
    const double tau = parameter_->day_convention()->fraction(model_dates_[l], model_dates_[l + 1]);
    const double R = grid_increment(l + 1, j, f), k = kappa(r, f), s = sigma(r, f);
    if (type == parameter_markovian_hjm_type::mean_reversion) {
      const double D = decay_(l + 1, f), q = s / D, w = k * tau, e2 = E(-2.0 * w), f1 = F1(-w);
      const double A1 = R * tau * e2 + D * tau * tau * f1;
      const double A2 = R * R * tau * e2 + 2.0 * R * D * tau * tau * f1 + D * D * tau * tau * tau * F2(-w);
      sum += q * q * (2.0 * ij * A1 - A2);
    } else if (type == parameter_markovian_hjm_type::decay_factor) {
      // D is the row itself: h(v) = R + kappa v.
      const double A1 = R * tau + 0.5 * k * tau * tau;
      const double A2 = R * R * tau + R * k * tau * tau + k * k * tau * tau * tau / 3.0;
      sum += s * s * (2.0 * ij * A1 - A2);
    }
  }
  return sum;
}

void model_markovian_hjm::prepare_simulation_steps() {
  const std::size_t n = number_of_factors(), s = simulation_dates_.size();
  for (std::size_t k = 0; k < s; ++k) {
    const std::size_t j = simulation_index_[k], jp = k > 0 ? simulation_index_[k - 1] : j;
    const double* sv = incremental_volatility_sv_.row_data(k);
    const double* mm = incremental_volatility_mm_.row_data(k);
    double* delta = step_delta_.row(k).data();
    double* u = step_u_.row(k).data();
    double* c = step_c_.row(k).data();
    for (std::size_t f = 0; f < n; ++f) {
      delta[f] = grid_increment(jp, j, f);
      // u = mm - I(t_j) sv = (mm^2 - I(t_j)^2 sv^2) / (mm + I(t_j) sv): under fast decay
      // mm and I sv agree to more digits than a double holds, so the numerator is
      // integrated on its own (money_market_shortfall) whenever the difference cancels.
      const double ij = integral_decay_(j, f), den = mm[f] + ij * sv[f];
      u[f] = ij > 0.0 && den > 0.0 ? -money_market_shortfall(jp, j, f) / den : mm[f] - ij * sv[f];
      double rho_mm = 0.0;
      for (std::size_t g = 0; g < n; ++g) rho_mm += rho(f, g) * mm[g];
      c[f] = sv[f] * rho_mm;
    }
    // q = u' rho u + Delta' C(j_{k-1}) Sigma with Sigma = I(j_k) + I(j_{k-1}).
    const double* cp = covariance_slice(jp);
    double q = 0.0;
    for (std::size_t a = 0; a < n; ++a) {
      double urow = 0.0, crow = 0.0;
      for (std::size_t b = 0; b < n; ++b) {
        urow += rho(a, b) * u[b];
        crow += cp[a * n + b] * (integral_decay_(j, b) + integral_decay_(jp, b));
      }
      q += u[a] * urow + delta[a] * crow;
    }
    // Step 0 has no previous date: nothing accrues into it.
    step_q_[k] = k > 0 ? q : 0.0;
  }
}

void model_markovian_hjm::simulation_step(const std::shared_ptr<const change_of_measure>& measure_change,
                                          std::uint64_t k, const matrix<double>& draws, matrix<double>& previous,
                                          matrix<double>& current) const {
  const std::size_t n = number_of_factors(), paths = current.columns();
  TARVEX_CHECK(!analytic_mode_, "simulation_step needs a model built for simulation (analytic mode is on)");
  TARVEX_CHECK(k >= 1 && k < simulation_dates_.size(), "simulation step ", k, " is outside 1..",
               simulation_dates_.size() - 1);
  TARVEX_CHECK(current.rows() == n + 1, "states rows ", current.rows(), " is differents from number of factors + 1 ",
               n + 1);
  TARVEX_CHECK(draws.rows() == n, "draws rows ", draws.rows(), " is differents from number of factors ", n);
  details::check_size(draws.columns(), paths);
  if (previous.rows() != current.rows() || previous.columns() != paths) previous = matrix<double>(n + 1, paths);

  double drift_stack[16];
  std::vector<double> drift_heap;
  double* drift = nullptr;
  if (measure_change) {
    drift = drift_stack;
    if (n > 16) {  // rare: more factors than the stack buffer holds
      drift_heap.resize(n);
      drift = drift_heap.data();
    }
    for (std::size_t f = 0; f < n; ++f) drift[f] = measure_change->drift(k, f);
  }
  const hjm_details::step_coefficients coefficients{incremental_volatility_sv_.row_data(k), step_c_.row_data(k),
                                                    step_delta_.row_data(k), step_u_.row_data(k), drift,
                                                    0.5 * step_q_[k]};
  hjm_details::kernels().simulation_step(n, paths, coefficients, draws.data(), previous.data(), current.data());
}

// --- state parameters ------------------------------------------------------------

void model_markovian_hjm::finalize_aad(double*) const {}

// The state-parameter blocks in layout order; get and set both walk this one list.
template <class Self, class Visit>
void model_markovian_hjm::for_each_block(Self& self, Visit visit) {
  visit(self.decay_.data(), self.decay_.size());
  visit(self.integral_decay_.data(), self.integral_decay_.size());
  if (!self.analytic_mode_) {
    visit(self.incremental_volatility_sv_.data(), self.incremental_volatility_sv_.size());
    visit(self.incremental_volatility_mm_.data(), self.incremental_volatility_mm_.size());
  }
  visit(self.covariance_.data(), self.covariance_.size());
}

std::size_t model_markovian_hjm::get_state_parameters(double* out) const {
  std::size_t offset = 0;
  for_each_block(*this, [&](const double* data, std::size_t count) {
    std::copy_n(data, count, out + offset);
    offset += count;
  });
  return offset;
}

std::size_t model_markovian_hjm::set_state_parameters(const double* in) {
  std::size_t offset = 0;
  for_each_block(*this, [&](double* data, std::size_t count) {
    std::copy_n(in + offset, count, data);
    offset += count;
  });
  refresh_tail_integral(false);
  if (!analytic_mode_ && !simulation_dates_.empty()) prepare_simulation_steps();
  return offset;
}

// --- free functions --------------------------------------------------------------

void model_dfs(std::vector<double>& out, const vector<double>& x, const matrix<double>& loadings,
               const std::vector<double>& initial) {
  const std::size_t bonds = loadings.rows(), n = loadings.columns();
  details::check_size(bonds, out.size());
  details::check_size(bonds, initial.size());
  details::check_size(n, x.size());
  for (std::size_t j = 0; j < bonds; ++j) {
    double e = 0.0;
    for (std::size_t f = 0; f < n; ++f) {
      const double l = loadings(j, f), l0 = loadings(0, f);
      e += (l - l0) * x[f] + 0.5 * (l * l - l0 * l0);
    }
    // Clamped so that extreme points give tiny or huge but finite prices.
    const double y = e > 37.0 ? -37.0 : (e < -300.0 ? 300.0 : -e);
    out[j] = initial[j] * std::exp(y);
  }
}

}  // namespace tarvex
