// Adjoint operations of model_markovian_hjm.
//
// Every operation is the transpose of the linearised plain operation: it reads the
// adjoint of an output and adds, into the gradient, adjoint times the partial derivative
// of that output with respect to each input it read (the model's blocks D, I, sv, mm, C
// and the parameter set's decays, volatilities and correlation). fill_aad then replays
// refresh backwards so that what landed on the blocks reaches the parameters.
#include <algorithm>
#include <cmath>

#include "Analytics/foundations/state_parameter_blocks.h"
#include "Analytics/models/hjm_integrals.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Core/check.h"
#include "Core/error.h"
#include "Math/cholesky_decomposition.h"

namespace tarvex {

using hjm_integrals::E;
using hjm_integrals::epsilon;
using hjm_integrals::F1;
using hjm_integrals::F2;
using hjm_integrals::series_switch;
using hjm_integrals::series_terms;

namespace {

// E'(x) = ((x - 1) e^x + 1) / x^2 = sum_{n>=1} n x^{n-1} / (n+1)!. The closed form cancels
// like 1/x^2 near zero, so the series is summed on the same range as the plain integrals.
double dE(double x) {
  if (std::fabs(x) >= series_switch) return ((x - 1.0) * std::exp(x) + 1.0) / (x * x);
  double sum = 0.0, term = 0.5;  // x^{n-1} / (n+1)! from n = 1
  for (int n = 1; n <= series_terms; ++n) {
    sum += n * term;
    term *= x / (n + 2);
  }
  return sum;
}

// F1'(w): from F1 = (E(2w) - E(w)) / w, or the series sum_{n>=2} (2^n - 1)(n - 1) w^{n-2} / ((n+1) n!).
double dF1(double w) {
  if (std::fabs(w) >= series_switch) return (2.0 * dE(2.0 * w) - dE(w) - F1(w)) / w;
  double sum = 0.0, power = 1.0, factorial = 2.0, two = 4.0;  // w^{n-2}, n!, 2^n at n = 2
  for (int n = 2; n <= series_terms + 1; ++n) {
    sum += (two - 1.0) * (n - 1) * power / ((n + 1) * factorial);
    power *= w;
    factorial *= n + 1;
    two *= 2.0;
  }
  return sum;
}

// F2'(w): from F2 = (E(2w) - 2E(w) + 1) / w^2, or the series sum_{n>=3} (2^n - 2)(n - 2) w^{n-3} / ((n+1) n!).
double dF2(double w) {
  if (std::fabs(w) >= series_switch) return 2.0 * (dE(2.0 * w) - dE(w)) / (w * w) - 2.0 * F2(w) / w;
  double sum = 0.0, power = 1.0, factorial = 6.0, two = 8.0;  // w^{n-3}, n!, 2^n at n = 3
  for (int n = 3; n < 3 + series_terms; ++n) {
    sum += (two - 2.0) * (n - 2) * power / ((n + 1) * factorial);
    power *= w;
    factorial *= n + 1;
    two *= 2.0;
  }
  return sum;
}

}  // namespace

// --- parameter entries -------------------------------------------------------------
// The parameter set's layout is the first block of the model's, so its offsets index
// the shared gradient directly.

void model_markovian_hjm::add_decay_aad(std::size_t row, std::size_t f, double value, double* gradient) const {
  update_state_parameters(value, parameter_->decays_offset(), row * number_of_factors() + f, gradient);
}

void model_markovian_hjm::add_volatility_aad(std::size_t row, std::size_t f, double value, double* gradient) const {
  update_state_parameters(value, parameter_->volatilities_offset(), row * number_of_factors() + f, gradient);
}

void model_markovian_hjm::add_correlation_aad(std::size_t a, std::size_t b, double value, double* gradient) const {
  // rho(a, b) and rho(b, a) are one free entry, stored once in the strict lower triangle.
  if (a < b) std::swap(a, b);
  update_state_parameters(value, parameter_->correlation_offset(), state_blocks::strict_lower_index(a, b), gradient);
}

// --- steps from model date i to t --------------------------------------------------

void model_markovian_hjm::decay_step_aad(std::size_t i, const datetime& t, const double* adjoint,
                                         const double* value, double* gradient) const {
  const std::size_t n = number_of_factors();
  if (!(model_dates_[i] < t)) {
    for (std::size_t f = 0; f < n; ++f) update_state_parameters(adjoint[f], decay_offset_, i * n + f, gradient);
    return;
  }
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  switch (parameter_->model_type()) {
    case parameter_markovian_hjm_type::mean_reversion:
      // out = D_i e^{-kappa tau}: d/dD_i = e^{-kappa tau}, d/dkappa = -tau out.
      for (std::size_t f = 0; f < n; ++f) {
        const double a = adjoint[f];
        update_state_parameters(a * std::exp(-kappa(r, f) * tau), decay_offset_, i * n + f, gradient);
        add_decay_aad(r.decay, f, -tau * value[f] * a, gradient);
      }
      break;
    case parameter_markovian_hjm_type::decay_factor:
      for (std::size_t f = 0; f < n; ++f) add_decay_aad(r.decay, f, adjoint[f], gradient);
      break;
    default:
      break;
  }
}

void model_markovian_hjm::integral_step_aad(std::size_t i, const datetime& t, const double* adjoint,
                                            double* gradient) const {
  const std::size_t n = number_of_factors();
  for (std::size_t f = 0; f < n; ++f) update_state_parameters(adjoint[f], integral_decay_offset_, i * n + f, gradient);
  if (!(model_dates_[i] < t)) return;
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  switch (parameter_->model_type()) {
    case parameter_markovian_hjm_type::mean_reversion:
      // out = I_i + D_i tau E(-kappa tau).
      for (std::size_t f = 0; f < n; ++f) {
        const double a = adjoint[f], x = -kappa(r, f) * tau;
        update_state_parameters(a * tau * E(x), decay_offset_, i * n + f, gradient);
        add_decay_aad(r.decay, f, -a * decay_(i, f) * tau * tau * dE(x), gradient);
      }
      break;
    case parameter_markovian_hjm_type::decay_factor:
      for (std::size_t f = 0; f < n; ++f) add_decay_aad(r.decay, f, adjoint[f] * tau, gradient);
      break;
    default:
      break;
  }
}

void model_markovian_hjm::covariance_step_aad(std::size_t i, const datetime& t, const double* adjoint,
                                              double* gradient) const {
  const std::size_t n = number_of_factors();
  double* slice = get_state_parameters_aad(covariance_offset_, i * n * n, gradient);
  if (!(model_dates_[i] < t)) {
    for (std::size_t e = 0; e < n * n; ++e) slice[e] += adjoint[e];
    return;
  }
  const auto r = rows_after(i);
  const double tau = parameter_->day_convention()->fraction(model_dates_[i], t);
  const auto type = parameter_->model_type();
  // The step computes the lower triangle from C_i's lower triangle and mirrors it, so a
  // lower entry carries the adjoints of both its positions and C_i's upper triangle is
  // never read.
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      const double w = a == b ? adjoint[a * n + a] : adjoint[a * n + b] + adjoint[b * n + a];
      slice[a * n + b] += w;
      if (w == 0.0) continue;
      const double sa = sigma(r, a), sb = sigma(r, b), rab = rho(a, b);
      // For a == b each factor's contribution is added twice, which is the derivative of a square.
      if (type == parameter_markovian_hjm_type::mean_reversion) {
        // out += (s_a / D_a)(s_b / D_b) rho tau E((kappa_a + kappa_b) tau)
        const double Da = decay_(i, a), Db = decay_(i, b), qa = sa / Da, qb = sb / Db;
        const double x = (kappa(r, a) + kappa(r, b)) * tau, wre = w * rab * tau * E(x);
        add_volatility_aad(r.volatility, a, wre * qb / Da, gradient);
        add_volatility_aad(r.volatility, b, wre * qa / Db, gradient);
        update_state_parameters(-wre * qa * qb / Da, decay_offset_, i * n + a, gradient);
        update_state_parameters(-wre * qa * qb / Db, decay_offset_, i * n + b, gradient);
        const double dk = w * qa * qb * rab * tau * tau * dE(x);
        add_decay_aad(r.decay, a, dk, gradient);
        add_decay_aad(r.decay, b, dk, gradient);
        if (a != b) add_correlation_aad(a, b, w * qa * qb * tau * E(x), gradient);
      } else if (type == parameter_markovian_hjm_type::decay_factor) {
        // out += s_a rho s_b tau
        add_volatility_aad(r.volatility, a, w * rab * sb * tau, gradient);
        add_volatility_aad(r.volatility, b, w * sa * rab * tau, gradient);
        if (a != b) add_correlation_aad(a, b, w * sa * sb * tau, gradient);
      }
    }
  }
}

// --- at arbitrary dates ------------------------------------------------------------

void model_markovian_hjm::decay_aad(const vector<double>& adjoint, const vector<double>& value, const datetime& t,
                                    std::size_t i, double* gradient) const {
  const std::size_t n = number_of_factors();
  details::check_size(n, adjoint.size());
  details::check_size(n, value.size());
  TARVEX_CHECK(i < model_dates_.size(), "model date index ", i, " is beyond the ", model_dates_.size(),
               " model dates");
  decay_step_aad(i, t, adjoint.data(), value.data(), gradient);
}

void model_markovian_hjm::integral_decay_aad(const vector<double>& adjoint, const datetime& t,
                                             double* gradient) const {
  details::check_size(number_of_factors(), adjoint.size());
  // Callers pass the adjoints of every date they touched; most are empty.
  if (std::all_of(adjoint.data(), adjoint.data() + adjoint.size(),
                  [](double a) { return std::fabs(a) < epsilon; }))
    return;
  integral_step_aad(date_offset(t), t, adjoint.data(), gradient);
}

void model_markovian_hjm::states_variable_covariance_aad(const matrix<double>& adjoint, const datetime& t,
                                                         double* gradient) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.rows() == n && adjoint.columns() == n, "covariance adjoint ", adjoint.rows(), "x",
               adjoint.columns(), " is differents from factors x factors ", n, "x", n);
  covariance_step_aad(date_offset(t), t, adjoint.data(), gradient);
}

template <class VarianceAad>
void model_markovian_hjm::incremental_walk_aad(const std::vector<datetime>& dates, const matrix<double>& adjoint,
                                               const matrix<double>& value, VarianceAad variance_aad) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.rows() == dates.size() && adjoint.columns() == n, "adjoint ", adjoint.rows(), "x",
               adjoint.columns(), " is differents from dates x factors ", dates.size(), "x", n);
  TARVEX_CHECK(value.rows() == dates.size() && value.columns() == n, "value ", value.rows(), "x", value.columns(),
               " is differents from dates x factors ", dates.size(), "x", n);
  if (dates.empty()) return;
  // out(k) = sqrt(V_k): V_k's adjoint is adjoint(k) / (2 out(k)); a zero output (nothing
  // accrued, or a clamped negative difference) has no derivative and passes nothing on.
  std::vector<double> bar(n, 0.0);
  const auto load = [&](std::size_t k) {
    for (std::size_t f = 0; f < n; ++f) {
      const double v = value(k, f);
      bar[f] = v > 0.0 ? adjoint(k, f) / (2.0 * v) : 0.0;
    }
  };
  std::size_t k = 0;
  if (dates[0] == valuation_date_ || dates[0] == model_dates_.front()) k = 1;  // out(0) = 0 is a constant
  if (k < dates.size()) load(k);
  for (std::size_t j = 0; k < dates.size() && j + 1 < model_dates_.size() && !(dates.back() < model_dates_[j + 1]);
       ++j) {
    const auto r = rows_after(j);
    const double tau = parameter_->day_convention()->fraction(model_dates_[j], model_dates_[j + 1]);
    for (std::size_t f = 0; f < n; ++f)
      if (bar[f] != 0.0) variance_aad(j, f, r, tau, bar[f]);
    if (model_dates_[j + 1] == dates[k] && ++k < dates.size()) load(k);
  }
}

void model_markovian_hjm::incremental_volatility_sv_aad(const matrix<double>& adjoint, const matrix<double>& value,
                                                        const std::vector<datetime>& dates, double* gradient) const {
  const std::size_t n = number_of_factors();
  const auto type = parameter_->model_type();
  incremental_walk_aad(dates, adjoint, value, [&](std::size_t j, std::size_t f, const step_rows& r, double tau,
                                                  double bar) {
    const double s = sigma(r, f);
    if (type == parameter_markovian_hjm_type::mean_reversion) {
      // V = (s/D)^2 tau E(2 kappa tau)
      const double D = decay_(j, f), q = s / D, x = 2.0 * kappa(r, f) * tau, e = E(x);
      add_volatility_aad(r.volatility, f, bar * 2.0 * q / D * tau * e, gradient);
      update_state_parameters(-bar * 2.0 * q * q / D * tau * e, decay_offset_, j * n + f, gradient);
      add_decay_aad(r.decay, f, bar * q * q * 2.0 * tau * tau * dE(x), gradient);
    } else if (type == parameter_markovian_hjm_type::decay_factor) {
      add_volatility_aad(r.volatility, f, bar * 2.0 * s * tau, gradient);
    }
  });
}

void model_markovian_hjm::incremental_volatility_mm_aad(const matrix<double>& adjoint, const matrix<double>& value,
                                                        const std::vector<datetime>& dates, double* gradient) const {
  const std::size_t n = number_of_factors();
  const auto type = parameter_->model_type();
  incremental_walk_aad(dates, adjoint, value, [&](std::size_t j, std::size_t f, const step_rows& r, double tau,
                                                  double bar) {
    const double s = sigma(r, f), k = kappa(r, f), I = integral_decay_(j, f), D = decay_(j, f);
    if (type == parameter_markovian_hjm_type::decay_factor) {
      // V = s^2 tau P with P = (I^2 + I I1 + I1^2)/3, I1 = I + kappa tau:
      // dP/dI = I + I1 (I1 moves with I), dP/dkappa = tau (I + 2 I1)/3.
      const double I1 = I + k * tau, P = (I * I + I * I1 + I1 * I1) / 3.0;
      add_volatility_aad(r.volatility, f, bar * 2.0 * s * tau * P, gradient);
      update_state_parameters(bar * s * s * tau * (I + I1), integral_decay_offset_, j * n + f, gradient);
      add_decay_aad(r.decay, f, bar * s * s * tau * tau * (I + 2.0 * I1) / 3.0, gradient);
      return;
    }
    if (type != parameter_markovian_hjm_type::mean_reversion) return;
    // V = q^2 B with q = s/D, B = I^2 tau E(2w) + 2 I D tau^2 F1(w) + D^2 tau^3 F2(w), w = kappa tau.
    const double q = s / D, w = k * tau, t2 = tau * tau, t3 = t2 * tau;
    const double e2 = E(2.0 * w), f1 = F1(w), f2 = F2(w);
    const double B = I * I * tau * e2 + 2.0 * I * D * t2 * f1 + D * D * t3 * f2;
    add_volatility_aad(r.volatility, f, bar * 2.0 * q / D * B, gradient);
    update_state_parameters(bar * (q * q * (2.0 * I * t2 * f1 + 2.0 * D * t3 * f2) - 2.0 * q * q / D * B),
                            decay_offset_, j * n + f, gradient);
    update_state_parameters(bar * q * q * (2.0 * I * tau * e2 + 2.0 * D * t2 * f1), integral_decay_offset_, j * n + f,
                            gradient);
    const double dB = I * I * 2.0 * t2 * dE(2.0 * w) + 2.0 * I * D * t3 * dF1(w) + D * D * t3 * tau * dF2(w);
    add_decay_aad(r.decay, f, bar * q * q * dB, gradient);
  });
}

void model_markovian_hjm::decompose_aad(const matrix<double>& adjoint, const datetime& t,
                                        const std::vector<datetime>& dates, double* gradient,
                                        bool subtract_start) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.rows() == dates.size() && adjoint.columns() == n, "loadings adjoint ", adjoint.rows(), "x",
               adjoint.columns(), " is differents from dates x factors ", dates.size(), "x", n);
  if (n == 0) return;
  // Recompute the forward quantities: out(j, b) = sum_{a>=b} h_j[a] L(a, b) with
  // h_j = I(d_j) - I(t) (integrated on its own, as decompose does) or I(d_j). The
  // increment's adjoint reaches the parameters through I(d_j) and I(t): the same
  // derivative, and the blocks the calibration's gradient already carries.
  vector<double> h(n), g_bar(n), start_bar(n);
  matrix<double> L;
  states_variable_covariance(t, L);
  if (n == 1) {
    L(0, 0) = std::sqrt(L(0, 0));
  } else {
    cholesky_decomposition(L.data(), n, 'L');
    for (std::size_t a = 0; a < n; ++a)
      for (std::size_t b = a + 1; b < n; ++b) L(a, b) = 0.0;
  }
  matrix<double> L_bar(n, n);
  for (std::size_t j = 0; j < dates.size(); ++j) {
    if (subtract_start)
      integral_increment(t, dates[j], h.data());
    else
      integral_decay(dates[j], h);
    for (std::size_t a = 0; a < n; ++a) {
      double sum = 0.0;
      for (std::size_t b = 0; b <= a; ++b) {
        sum += adjoint(j, b) * L(a, b);
        L_bar(a, b) += adjoint(j, b) * h[a];
      }
      g_bar[a] = sum;
      start_bar[a] -= sum;
    }
    integral_decay_aad(g_bar, dates[j], gradient);
  }
  if (subtract_start) integral_decay_aad(start_bar, t, gradient);
  matrix<double> C_bar(n, n);
  if (n == 1) {
    if (L(0, 0) > 0.0) C_bar(0, 0) = L_bar(0, 0) / (2.0 * L(0, 0));
  } else {
    // The strict upper triangle of L is the constant zero: only the lower adjoint is read.
    cholesky_decomposition_aad(L.data(), L_bar.data(), C_bar.data(), n, 'L');
  }
  states_variable_covariance_aad(C_bar, t, gradient);
}

// --- refresh backwards -------------------------------------------------------------

void model_markovian_hjm::fill_aad(double* gradient) const {
  const std::size_t m = model_dates_.size(), n = number_of_factors();
  // 1. Simulation grid: C on simulation date k is sum_{l<=k} sv_l rho sv_l, and sv, mm
  //    read D and I rows, so this runs before the sweep below carries those rows down.
  if (!analytic_mode_ && !simulation_dates_.empty()) {
    const std::size_t s = simulation_dates_.size();
    // Local copies: the walks below add into D and I only, but the caller's sv and mm
    // adjoints stay as they were handed in.
    matrix<double> sv_bar(s, n), mm_bar(s, n), rho_bar(n, n);
    std::copy_n(get_state_parameters_aad(incremental_volatility_sv_offset_, 0, gradient), s * n, sv_bar.data());
    std::copy_n(get_state_parameters_aad(incremental_volatility_mm_offset_, 0, gradient), s * n, mm_bar.data());
    for (std::size_t k = s; k-- > 0;) {
      const double* c = get_state_parameters_aad(covariance_offset_, simulation_index_[k] * n * n, gradient);
      if (k > 0) {
        double* before = get_state_parameters_aad(covariance_offset_, simulation_index_[k - 1] * n * n, gradient);
        for (std::size_t e = 0; e < n * n; ++e) before[e] += c[e];
      }
      const double* sv = incremental_volatility_sv_.row_data(k);
      for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b) {
          const double w = c[a * n + b];
          if (w == 0.0) continue;
          sv_bar(k, a) += w * rho(a, b) * sv[b];
          sv_bar(k, b) += w * sv[a] * rho(a, b);
          if (a != b) rho_bar(a, b) += w * sv[a] * sv[b];
        }
    }
    parameter_->correlation_aad(rho_bar, gradient);
    incremental_volatility_sv_aad(sv_bar, incremental_volatility_sv_, simulation_dates_, gradient);
    incremental_volatility_mm_aad(mm_bar, incremental_volatility_mm_, simulation_dates_, gradient);
  }
  // 2. Rows i of D, I (and C on the analytic grid) are steps from row i - 1: sweep down.
  //    The row adjoints are copied so that no step reads what it is writing. Every step
  //    is linear in its row's adjoints, so rows above the last one holding any are
  //    skipped: a price reads the rows up to its own last date only, and a Jacobian row
  //    per calibration target pays for its target's dates instead of the whole grid.
  std::vector<double> row(n), slice(n * n);
  auto untouched = [&](std::size_t i) {
    const auto zero = [](const double* p, std::size_t count) {
      return std::all_of(p, p + count, [](double v) { return v == 0.0; });
    };
    return zero(get_state_parameters_aad(integral_decay_offset_, i * n, gradient), n) &&
           zero(get_state_parameters_aad(decay_offset_, i * n, gradient), n) &&
           (!analytic_mode_ || zero(get_state_parameters_aad(covariance_offset_, i * n * n, gradient), n * n));
  };
  std::size_t top = m;
  while (top > 1 && untouched(top - 1)) --top;
  for (std::size_t i = top; i-- > 1;) {
    const datetime& t = model_dates_[i];
    if (analytic_mode_) {
      std::copy_n(get_state_parameters_aad(covariance_offset_, i * n * n, gradient), n * n, slice.data());
      covariance_step_aad(i - 1, t, slice.data(), gradient);
    }
    std::copy_n(get_state_parameters_aad(integral_decay_offset_, i * n, gradient), n, row.data());
    integral_step_aad(i - 1, t, row.data(), gradient);
    std::copy_n(get_state_parameters_aad(decay_offset_, i * n, gradient), n, row.data());
    decay_step_aad(i - 1, t, row.data(), decay_.row_data(i), gradient);
  }
  // 3. Row 0 of D: the first decays row for decay factors, the constant 1 otherwise.
  if (m > 0 && parameter_->model_type() == parameter_markovian_hjm_type::decay_factor) {
    vector<double> first(n);
    std::copy_n(get_state_parameters_aad(decay_offset_, 0, gradient), n, first.data());
    parameter_->decays_aad(first, decay_index_[0], gradient);
  }
}

}  // namespace tarvex
