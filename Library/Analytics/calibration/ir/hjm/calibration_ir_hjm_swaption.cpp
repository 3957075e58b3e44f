#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"

#include <cmath>
#include <vector>

#include "Core/check.h"
#include "Core/logger.h"
#include "Math/black_scholes.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

constexpr double eps = 2.220446049250313e-16;
constexpr double inv_sqrt_2pi = 0.39894228040143267794;

double npdf(double s) { return inv_sqrt_2pi * std::exp(-0.5 * s * s); }

double dot(const vector<double>& a, const vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

// One second-order step x <- x - Delta from V, g and H at x; false (x unchanged) when
// the gradient is too small or too large for the step to mean anything.
bool second_order_step(vector<double>& x, double v, const vector<double>& g, const matrix<double>& h) {
  const double n = std::sqrt(dot(g, g));
  if (n < eps || 1.0 / n < eps) return false;
  const double a = n + 1.0 / n, c = v * (1.0 - 1.0 / (n * n)) / n;
  const std::size_t f = g.size();
  vector<double> delta(f);
  for (std::size_t r = 0; r < f; ++r) {
    double hg = 0.0;
    for (std::size_t s = 0; s < f; ++s) hg += h(r, s) * g[s];
    delta[r] = c * hg + a * g[r];
  }
  if (dot(delta, g) <= 0.0) {
    delta = g * (v / (n * n));
  } else {
    delta *= a * v / dot(delta, delta);
  }
  x -= delta;
  return true;
}

}  // namespace

calibration_ir_hjm_swaption::calibration_ir_hjm_swaption(const std::shared_ptr<const discount_curve>& curve,
                                                         const datetime& expiry, const datetime& maturity,
                                                         const tenor& frequency,
                                                         const std::shared_ptr<const day_count_convention>& day_count)
    : swap_(std::make_shared<const interest_rate_swap>(curve, expiry, maturity, frequency, day_count)) {}

calibration_ir_hjm_swaption::calibration_ir_hjm_swaption(const std::shared_ptr<const interest_rate_swap>& swap)
    : swap_(swap) {
  TARVEX_CHECK(swap_ != nullptr, "swaption target needs a swap");
}

matrix<double> calibration_ir_hjm_swaption::loadings(const model_markovian_hjm& model) const {
  matrix<double> d(swap_->all_dates().size(), model.number_of_factors());
  model.decompose(d, swap_->expiry(), swap_->all_dates(), true);
  return d;
}

double calibration_ir_hjm_swaption::swap_value(const matrix<double>& loadings, const vector<double>& x,
                                               double strike, vector<double>* gradient,
                                               matrix<double>* hessian) const {
  std::vector<double> dfs(loadings.rows());
  model_dfs(dfs, x, loadings, swap_->dfs());
  if (!gradient && !hessian) return swap_->value(strike, dfs);
  std::vector<double> adjoint(dfs.size(), 0.0);
  const double v = swap_->swap_value_aad(1.0, strike, dfs, adjoint);
  if (gradient) interest_rate_swap::gradient(*gradient, adjoint, loadings, dfs);
  if (hessian) {
    hessian->fill(0.0);
    swap_->swap_value_aad_second(*hessian, 1.0, loadings, strike, dfs);
  }
  return v;
}

void calibration_ir_hjm_swaption::search(const matrix<double>& loadings, double strike, vector<double>& root,
                                         vector<double>& gradient, std::uint64_t max_iterations,
                                         double tolerance) const {
  const std::size_t f = loadings.columns();
  vector<double> g(f), trial(f);
  matrix<double> h(f, f);
  auto finish = [&] { swap_value(loadings, root, strike, &gradient, nullptr); };

  double v = swap_value(loadings, root, strike, nullptr, nullptr);
  if (std::fabs(v) < tolerance) return finish();
  swap_value(loadings, root, strike, &g, &h);
  trial = root;
  if (second_order_step(trial, v, g, h)) {
    const double vt = swap_value(loadings, trial, strike, nullptr, nullptr);
    if (std::fabs(vt) < std::fabs(v)) {
      root = trial;
      v = vt;
      if (std::fabs(v) < tolerance) return finish();
    }
  }

  // Far from the boundary (|V| > 0.75 of the notional) the quadratic model of V is
  // poor: bracket a sign change along Newton steps and interpolate between the two
  // sides, the weight kept in [0.2, 0.8] so that the bracket shrinks by at least a
  // fifth each time. Only a point with a smaller |V| becomes the root.
  bool bracketed = false;
  vector<double> side_a(f), side_b(f);
  double v_a = 0.0, v_b = 0.0;
  for (std::uint64_t iteration = 0; iteration < max_iterations; ++iteration) {
    if (std::fabs(v) < tolerance) break;
    if (std::fabs(v) <= 0.75) {
      swap_value(loadings, root, strike, &g, &h);
      if (!second_order_step(root, v, g, h)) break;
      v = swap_value(loadings, root, strike, nullptr, nullptr);
      bracketed = false;
      continue;
    }
    double vt;
    if (!bracketed) {
      swap_value(loadings, root, strike, &g, nullptr);
      const double n2 = dot(g, g);
      if (!(n2 > eps * eps)) break;
      trial = root - g * (v / n2);
      vt = swap_value(loadings, trial, strike, nullptr, nullptr);
      if (vt * v < 0.0) {
        side_a = root;
        v_a = v;
        side_b = trial;
        v_b = vt;
        bracketed = true;
      } else if (!(std::fabs(vt) < std::fabs(v))) {
        trial = root - g * (0.2 * v / n2);  // overshot on the same side: a shorter step
        vt = swap_value(loadings, trial, strike, nullptr, nullptr);
      }
    } else {
      double w = v_a / (v_a - v_b);
      w = std::fmin(std::fmax(w, 0.2), 0.8);
      trial = side_a + (side_b - side_a) * w;
      vt = swap_value(loadings, trial, strike, nullptr, nullptr);
      if (vt * v_a > 0.0) {
        side_a = trial;
        v_a = vt;
      } else {
        side_b = trial;
        v_b = vt;
      }
    }
    if (std::fabs(vt) < std::fabs(v)) {
      root = trial;
      v = vt;
    }
  }
  if (!(std::fabs(v) < tolerance) && logger::GetCurrentVerbosityCutoff() >= 0)
    logger::LogF(0, __FILE__, __LINE__, " pv: %f:", v);
  finish();
}

double calibration_ir_hjm_swaption::boundary_price(const matrix<double>& d, const vector<double>& root,
                                                   const vector<double>& gradient, double strike,
                                                   matrix<double>* d_bar, double seed) const {
  const std::size_t f = d.columns(), n = d.rows();
  const std::vector<double>& p0 = swap_->dfs();
  const double norm = std::sqrt(dot(gradient, gradient));
  vector<double> u(f);
  u = gradient / norm;
  // s_i = u (D_i + x*): the boundary's distance in the measure of bond i.
  std::vector<double> s(n), s_bar(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    double v = 0.0;
    for (std::size_t k = 0; k < f; ++k) v += (d(i, k) + root[k]) * u[k];
    s[i] = v;
  }
  const fixed_leg& fixed = swap_->fixed_leg_instrument();
  const float_leg& floating = swap_->float_leg_instrument();
  double price = 0.0;
  // c N(-s_i): d/ds_i = -c n(s_i).
  auto term = [&](double c, std::size_t i) {
    price += c * normalcdf(-s[i]);
    s_bar[i] -= c * npdf(s[i]);
  };
  for (std::size_t j = 0; j < fixed.size(); ++j) {
    const std::size_t i = swap_->fixed_pay_index()[j];
    term(-strike * fixed.dcf(j) * p0[i], i);
  }
  for (std::size_t j = 0; j < floating.size(); ++j) {
    const std::size_t a = swap_->float_start_index()[j], e = swap_->float_end_index()[j],
                      p = swap_->float_pay_index()[j];
    const double w = floating.dcf(j);
    if (p == e) {
      term(w * p0[a], a);
      term(-w * p0[p], p);
      continue;
    }
    // Lagged payment: P_p P_a / P_e = (P0_p P0_a / P0_e) exp(-E x - ...), E = D_a + D_p - D_e;
    // its expectation carries the convexity c, and its measure moves the boundary to
    // alpha = u (x* + E). beta = s_p is the payment bond's own distance.
    double exponent = 0.0, alpha = 0.0;
    for (std::size_t k = 0; k < f; ++k) {
      const double ek = d(a, k) + d(p, k) - d(e, k);
      exponent += 0.5 * (ek * ek + d(e, k) * d(e, k) - d(p, k) * d(p, k) - d(a, k) * d(a, k));
      alpha += (root[k] + ek) * u[k];
    }
    const bool clamped = exponent < -37.0 || exponent > 300.0;
    const double convexity = std::exp(std::fmin(std::fmax(exponent, -37.0), 300.0));
    const double scale = w * p0[p] * p0[a] / p0[e];
    const double n_alpha = normalcdf(-alpha);
    price += scale * convexity * n_alpha;
    term(-w * p0[p], p);
    if (d_bar) {
      const double c_bar = clamped ? 0.0 : seed * scale * convexity * n_alpha;  // d/d exponent
      const double alpha_bar = -seed * scale * convexity * npdf(alpha);
      for (std::size_t k = 0; k < f; ++k) {
        (*d_bar)(a, k) += c_bar * (d(p, k) - d(e, k)) + alpha_bar * u[k];
        (*d_bar)(p, k) += c_bar * (d(a, k) - d(e, k)) + alpha_bar * u[k];
        (*d_bar)(e, k) += c_bar * (2.0 * d(e, k) - d(a, k) - d(p, k)) - alpha_bar * u[k];
      }
    }
  }
  if (d_bar)
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t k = 0; k < f; ++k) (*d_bar)(i, k) += seed * s_bar[i] * u[k];
  return price;
}

double calibration_ir_hjm_swaption::caplet_price(const matrix<double>& d, double strike, matrix<double>* d_bar,
                                                 double seed) const {
  const std::vector<double>& p0 = swap_->dfs();
  const double T = swap_->expiry_double();
  const std::size_t i_fix = swap_->fixed_pay_index()[0], i_s = swap_->float_start_index()[0];
  const double dcf_fix = swap_->fixed_leg_instrument().dcf(0), dcf_float = swap_->float_leg_instrument().dcf(0);
  double variance = 0.0;
  for (std::size_t k = 0; k < d.columns(); ++k) variance += d(1, k) * d(1, k);
  // The bond maturing at the period end is lognormal with total variance |D_1|^2.
  const double sigma = T > 0.0 ? std::sqrt(variance / T) : 0.0;
  const double forward = (dcf_fix * strike + dcf_float) * p0[i_fix], bond_strike = dcf_float * p0[i_s];
  const double price = black_scholes::price(forward, bond_strike, T, sigma, 1.0, -1.0);
  if (d_bar && sigma > 0.0) {
    const double sigma_bar = seed * black_scholes::vega(forward, bond_strike, T, sigma, 1.0);
    for (std::size_t k = 0; k < d.columns(); ++k) (*d_bar)(1, k) += sigma_bar * d(1, k) / (T * sigma);
  }
  return price;
}

double calibration_ir_hjm_swaption::value(double strike, const model_markovian_hjm& model, vector<double>& root,
                                          vector<double>& gradient, std::uint64_t max_iterations,
                                          double tolerance) const {
  const matrix<double> d = loadings(model);
  if (swap_->is_caplet()) return caplet_price(d, strike, nullptr, 0.0);
  const std::size_t f = model.number_of_factors();
  TARVEX_CHECK(root.size() == f, "root has ", root.size(), " entries for ", f, " factors");
  if (gradient.empty() && !gradient.is_view()) gradient.resize(f);
  search(d, strike, root, gradient, max_iterations, tolerance);
  return boundary_price(d, root, gradient, strike, nullptr, 0.0);
}

double calibration_ir_hjm_swaption::implied_volatility(double strike, const model_markovian_hjm& model,
                                                       vector<double>& root, std::uint64_t max_iterations,
                                                       double tolerance) const {
  vector<double> gradient(root.size());
  const double price = value(strike, model, root, gradient, max_iterations, tolerance);
  if (price <= eps) return 0.0;
  if (!std::isfinite(price)) return 10000.0;
  return swap_->implied_volatility(price, strike, 1.0);
}

double calibration_ir_hjm_swaption::implied_volatility_aad(double strike, const model_markovian_hjm& model,
                                                           vector<double>& root, std::uint64_t max_iterations,
                                                           double tolerance, double seed, double* gradient) const {
  const matrix<double> d = loadings(model);
  matrix<double> d_bar(d.rows(), d.columns());
  double price;
  vector<double> boundary_gradient(root.size());
  if (swap_->is_caplet()) {
    price = caplet_price(d, strike, nullptr, 0.0);
  } else {
    TARVEX_CHECK(root.size() == d.columns(), "root has ", root.size(), " entries for ", d.columns(), " factors");
    search(d, strike, root, boundary_gradient, max_iterations, tolerance);
    price = boundary_price(d, root, boundary_gradient, strike, nullptr, 0.0);
  }
  if (price <= eps) return 0.0;
  if (!std::isfinite(price)) return 10000.0;
  double price_bar = 0.0;
  const double sigma = swap_->implied_volatility_aad(price, strike, 1.0, seed, price_bar);
  if (price_bar == 0.0) return sigma;
  if (swap_->is_caplet())
    caplet_price(d, strike, &d_bar, price_bar);
  else
    boundary_price(d, root, boundary_gradient, strike, &d_bar, price_bar);
  model.decompose_aad(d_bar, swap_->expiry(), swap_->all_dates(), gradient, true);
  return sigma;
}

void calibration_ir_hjm_swaption::initial_root(vector<double>& root, double strike,
                                               const model_markovian_hjm& model) const {
  if (swap_->is_caplet()) return;
  const std::size_t f = model.number_of_factors();
  if (root.empty() && !root.is_view()) root.resize(f);
  TARVEX_CHECK(root.size() == f, "root has ", root.size(), " entries for ", f, " factors");
  root.fill(0.0);
  const matrix<double> d = loadings(model);
  vector<double> g(f);
  matrix<double> h(f, f);
  const double v = swap_value(d, root, strike, &g, &h);
  second_order_step(root, v, g, h);
}

double calibration_ir_hjm_swaption::swaption_price_approximation(const model_markovian_hjm& model) const {
  const matrix<double> d = loadings(model);
  const std::size_t n = d.rows(), f = d.columns();
  std::vector<double> p(n);
  model_dfs(p, vector<double>(f), d, swap_->dfs());
  const double s = swap_->swap_rate(p), a = swap_->annuity(p);
  double sum = 0.0;
  std::vector<double> sensitivity(n);
  for (std::size_t k = 0; k < f; ++k) {
    for (std::size_t i = 0; i < n; ++i) sensitivity[i] = -d(i, k) * p[i];
    const double vk = swap_->value(-s, sensitivity) / a;
    sum += vk * vk;
  }
  return std::sqrt(sum / swap_->expiry_double());
}

}  // namespace tarvex
