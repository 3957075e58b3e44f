#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_maps.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"
#include "Math/cholesky_decomposition.h"

namespace tarvex {
namespace {

// A saturated Cholesky row is shrunk to this squared norm; its diagonal is then
// sqrt(1 - 0.999999), written out so that the value does not depend on rounding.
constexpr double saturated_norm = 0.999999;
constexpr double saturated_diagonal = 0.0010000000000143778;

std::size_t lower_entries(std::size_t n) { return n * (n - 1) / 2; }

}  // namespace

calibration_ir_hjm_maps::calibration_ir_hjm_maps(const std::vector<double>& decay_bounds,
                                                 const std::vector<double>& volatility_bounds,
                                                 bool calibrate_correlation, double regularization_factor)
    : decay_lo_(std::min(decay_bounds[0], decay_bounds[1])),
      decay_hi_(std::max(decay_bounds[0], decay_bounds[1])),
      volatility_lo_(std::min(volatility_bounds[0], volatility_bounds[1])),
      volatility_hi_(std::max(volatility_bounds[0], volatility_bounds[1])),
      calibrate_correlation_(calibrate_correlation),
      regularization_factor_(regularization_factor) {}

std::size_t calibration_ir_hjm_maps::number_of_unknowns(const parameter_markovian_hjm& p) const {
  return p.decays().size() + p.volatilities().size() +
         (calibrate_correlation_ ? lower_entries(p.number_of_factors()) : 0);
}

std::size_t calibration_ir_hjm_maps::number_of_regularizations(const parameter_markovian_hjm& p) {
  return p.decays().size() + p.volatilities().size() - 2 * p.number_of_factors();
}

double calibration_ir_hjm_maps::to_R(double p, double lo, double hi) {
  const double z = (2.0 * p - lo - hi) / (hi - lo);
  return 0.5 * std::log((1.0 + z) / (1.0 - z)) / 0.1;
}

double calibration_ir_hjm_maps::from_R(double x, double lo, double hi) {
  return 0.5 * (lo + hi + (hi - lo) * std::tanh(0.1 * x));
}

double calibration_ir_hjm_maps::from_R_derivative(double x, double lo, double hi) {
  const double t = std::tanh(0.1 * x);
  return 0.05 * (hi - lo) * (1.0 - t * t);
}

void calibration_ir_hjm_maps::cholesky_from_R(const vector<double>& x, std::size_t first, std::size_t n,
                                              matrix<double>& l) {
  l.resize(n, n);
  if (n == 0) return;
  l(0, 0) = 1.0;
  std::size_t k = first;
  for (std::size_t i = 1; i < n; ++i) {
    double s = 0.0;
    for (std::size_t j = 0; j < i; ++j) {
      l(i, j) = std::tanh(0.1 * x[k++]);
      s += l(i, j) * l(i, j);
    }
    if (s >= 1.0) {
      const double shrink = std::sqrt(saturated_norm / s);
      for (std::size_t j = 0; j < i; ++j) l(i, j) *= shrink;
      l(i, i) = saturated_diagonal;
    } else {
      l(i, i) = std::sqrt(1.0 - s);
    }
  }
}

void calibration_ir_hjm_maps::map_to_R(const parameter_markovian_hjm& p, vector<double>& x) const {
  const std::size_t unknowns = number_of_unknowns(p), n = p.number_of_factors();
  if (x.empty() && !x.is_view()) x.resize(unknowns);
  TARVEX_CHECK_TEXT(x.size() == unknowns, "out of range!");
  std::size_t k = 0;
  for (std::size_t e = 0; e < p.decays().size(); ++e) x[k++] = to_R(p.decays().data()[e], decay_lo_, decay_hi_);
  for (std::size_t e = 0; e < p.volatilities().size(); ++e)
    x[k++] = to_R(p.volatilities().data()[e], volatility_lo_, volatility_hi_);
  if (!calibrate_correlation_) return;
  matrix<double> l = p.correlation();
  const bool factorised = cholesky_decomposition(l.data(), n, 'L');
  TARVEX_CHECK(factorised, "the correlation to fit is not positive definite");
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = 0; j < i; ++j) x[k++] = to_R(l(i, j), -1.0, 1.0);
}

void calibration_ir_hjm_maps::map_from_R(const vector<double>& x, parameter_markovian_hjm& p) const {
  TARVEX_CHECK_TEXT(x.size() == number_of_unknowns(p), "out of range!");
  // Through the state parameters, which restore the symmetric correlation on the way.
  std::vector<double> state(p.state_parameters_size());
  p.get_state_parameters(state.data());
  const std::size_t decays = p.decays().size(), volatilities = p.volatilities().size(), n = p.number_of_factors();
  for (std::size_t e = 0; e < decays; ++e) state[p.decays_offset() + e] = from_R(x[e], decay_lo_, decay_hi_);
  for (std::size_t e = 0; e < volatilities; ++e)
    state[p.volatilities_offset() + e] = from_R(x[decays + e], volatility_lo_, volatility_hi_);
  if (calibrate_correlation_) {
    matrix<double> l;
    cholesky_from_R(x, decays + volatilities, n, l);
    double* c = state.data() + p.correlation_offset();
    for (std::size_t i = 1; i < n; ++i)
      for (std::size_t j = 0; j < i; ++j) {
        double v = 0.0;
        for (std::size_t k = 0; k <= j; ++k) v += l(i, k) * l(j, k);
        *c++ = v;
      }
  }
  p.set_state_parameters(state.data());
}

void calibration_ir_hjm_maps::prepare_aad(const vector<double>& x, const parameter_markovian_hjm& p, chain& out) const {
  const std::size_t decays = p.decays().size(), volatilities = p.volatilities().size();
  out.x = x;
  out.derivative.resize(x.size());
  for (std::size_t e = 0; e < decays && e < x.size(); ++e)
    out.derivative[e] = from_R_derivative(x[e], decay_lo_, decay_hi_);
  for (std::size_t e = decays; e < decays + volatilities && e < x.size(); ++e)
    out.derivative[e] = from_R_derivative(x[e], volatility_lo_, volatility_hi_);
  // The correlation unknowns' entries are not used: their chain runs through L.
  if (calibrate_correlation_ && x.size() == number_of_unknowns(p))
    cholesky_from_R(x, decays + volatilities, p.number_of_factors(), out.cholesky);
}

void calibration_ir_hjm_maps::map_from_R_aad(const vector<double>& x, const parameter_markovian_hjm& p,
                                             const double* gradient, vector<double>& row) const {
  chain prepared;
  prepare_aad(x, p, prepared);
  map_from_R_aad(prepared, p, gradient, row);
}

void calibration_ir_hjm_maps::map_from_R_aad(const chain& prepared, const parameter_markovian_hjm& p,
                                             const double* gradient, vector<double>& row) const {
  const std::size_t unknowns = number_of_unknowns(p);
  const vector<double>& x = prepared.x;
  TARVEX_CHECK_TEXT(x.size() == unknowns && row.size() == unknowns, "out of range!");
  const std::size_t decays = p.decays().size(), volatilities = p.volatilities().size(), n = p.number_of_factors();
  const double* d = prepared.derivative.data();
  for (std::size_t e = 0; e < decays; ++e) row[e] = gradient[p.decays_offset() + e] * d[e];
  for (std::size_t e = 0; e < volatilities; ++e)
    row[decays + e] = gradient[p.volatilities_offset() + e] * d[decays + e];
  if (!calibrate_correlation_) return;

  // C(i, j) = sum_{k <= j} L(i, k) L(j, k) for j < i; the gradient entry of (i, j) is
  // already the derivative with respect to the symmetric pair.
  const std::size_t first = decays + volatilities;
  const matrix<double>& l = prepared.cholesky;
  std::vector<double> l_bar(n * n, 0.0);
  const double* c_bar = gradient + p.correlation_offset();
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = 0; j < i; ++j) {
      const double w = *c_bar++;
      for (std::size_t k = 0; k <= j; ++k) {
        l_bar[i * n + k] += w * l(j, k);
        l_bar[j * n + k] += w * l(i, k);
      }
    }
  // Row i of L depends only on its own unknowns t_j = tanh(0.1 x_j).
  std::size_t k = first;
  for (std::size_t i = 1; i < n; ++i) {
    double s = 0.0, projection = 0.0;
    for (std::size_t j = 0; j < i; ++j) {
      const double t = std::tanh(0.1 * x[k + j]);
      s += t * t;
      projection += l_bar[i * n + j] * t;
    }
    for (std::size_t j = 0; j < i; ++j) {
      const double t = std::tanh(0.1 * x[k + j]);
      double t_bar;
      if (s >= 1.0) {
        // L(i, j) = t_j sqrt(c / s): dL(i, j)/dt_m = sqrt(c / s) (delta_jm - t_j t_m / s); the diagonal is fixed.
        t_bar = std::sqrt(saturated_norm / s) * (l_bar[i * n + j] - t * projection / s);
      } else {
        // L(i, i) = sqrt(1 - s): dL(i, i)/dt_j = -t_j / L(i, i).
        t_bar = l_bar[i * n + j] - l_bar[i * n + i] * t / l(i, i);
      }
      row[k + j] = t_bar * 0.1 * (1.0 - t * t);
    }
    k += i;
  }
}

void calibration_ir_hjm_maps::tikhonov_regularization(const parameter_markovian_hjm& p, vector<double>& r,
                                                      std::size_t first) const {
  TARVEX_CHECK_TEXT(first + number_of_regularizations(p) == r.size(), "out of range");
  std::size_t k = first;
  for (const matrix<double>* q : {&p.decays(), &p.volatilities()})
    for (std::size_t i = 1; i < q->rows(); ++i)
      for (std::size_t c = 0; c < q->columns(); ++c) r[k++] = regularization_factor_ * ((*q)(i, c) - (*q)(i - 1, c));
}

void calibration_ir_hjm_maps::tikhonov_regularization_aad(const vector<double>& x, const parameter_markovian_hjm& p,
                                                          matrix<double>& jacobian, std::size_t first) const {
  TARVEX_CHECK_TEXT(first + number_of_regularizations(p) == jacobian.rows() && x.size() == jacobian.columns() &&
                        x.size() == number_of_unknowns(p),
                    "out of range");
  const std::size_t n = p.number_of_factors();
  std::size_t k = first, start = 0;
  auto block = [&](std::size_t rows, double lo, double hi) {
    for (std::size_t i = 1; i < rows; ++i)
      for (std::size_t c = 0; c < n; ++c, ++k) {
        vector<double> row = jacobian.row(k);
        row.fill(0.0);
        const std::size_t e = start + i * n + c;
        row[e] = regularization_factor_ * from_R_derivative(x[e], lo, hi);
        row[e - n] = -regularization_factor_ * from_R_derivative(x[e - n], lo, hi);
      }
    start += rows * n;
  };
  block(p.decays().rows(), decay_lo_, decay_hi_);
  block(p.volatilities().rows(), volatility_lo_, volatility_hi_);
}

}  // namespace tarvex
