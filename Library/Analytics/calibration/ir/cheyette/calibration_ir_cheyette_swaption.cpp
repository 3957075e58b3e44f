#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette_swaption.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Core/check.h"
#include "Core/warning.h"
#include "Math/black_scholes.h"
#include "Math/inverse_gaussian_distribution.h"
#include "Math/normal_distribution.h"

namespace tarvex {
namespace {

constexpr double epsilon = 2.220446049250313e-16;

// Gauss-Legendre rule of N points on [-1, 1] (Newton on P_N from the Chebyshev guess).
template <std::size_t N>
struct legendre_rule {
  std::array<double, N> x{}, w{};
  legendre_rule() {
    for (std::size_t i = 0; i < N; ++i) {
      double z = std::cos(M_PI * (i + 0.75) / (N + 0.5)), dp = 1.0;
      for (int it = 0; it < 100; ++it) {
        double p0 = 1.0, p1 = z;
        for (std::size_t k = 2; k <= N; ++k) {
          const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = N * (z * p1 - p0) / (z * z - 1.0);
        const double step = p1 / dp;
        z -= step;
        if (std::fabs(step) < 1e-16) break;
      }
      x[N - 1 - i] = z;
      w[N - 1 - i] = 2.0 / ((1.0 - z * z) * dp * dp);
    }
  }
};

// The bridge integrals are smooth on [0, B] (B is a variance, well below one): 8 points
// reach 1e-13 relative for B up to 1; the node rule covers W_B / sqrt(B) in [-8, 8], where
// the standard normal density outside weighs below 1e-15.
const legendre_rule<8>& bridge_rule() {
  static const legendre_rule<8> rule;
  return rule;
}
// 20 points per panel (two panels): the smiles move by under 1e-3 bp against 32.
constexpr std::size_t node_count = 20;
constexpr double node_range = 8.0;
const legendre_rule<node_count>& node_rule() {
  static const legendre_rule<node_count> rule;
  return rule;
}

// Conditional law of A = int_0^B e^{2 W_s - s} ds given W_B = a: the exact mean and
// variance from the Brownian bridge (mean a s/B, covariance s (B - u)/B for s < u),
//   E[e^{2 W_s - s}] = m(s) = exp(2 a s/B + 2 s (B - s)/B - s),
//   Var A = 2 int_{s<u} m(s) m(u) expm1(4 s (B - u)/B),
// written with expm1 so that no cancellation of E[A^2] - E[A]^2 enters; matched by the
// inverse Gaussian IG(mu, lambda = mu^3 / Var).
void bridge_law(double a, double B, double& mu, double& lambda) {
  const auto& r = bridge_rule();
  auto m = [&](double s) { return std::exp(2.0 * a * s / B + 2.0 * s * (B - s) / B - s); };
  double mean = 0.0, var = 0.0;
  for (std::size_t k = 0; k < r.x.size(); ++k) {
    const double s = 0.5 * B * (1.0 + r.x[k]), ws = 0.5 * B * r.w[k], ms = m(s);
    mean += ws * ms;
    const double half = 0.5 * (B - s);
    double inner = 0.0;
    for (std::size_t l = 0; l < r.x.size(); ++l) {
      const double u = s + half * (1.0 + r.x[l]);
      inner += half * r.w[l] * m(u) * std::expm1(4.0 * s * (B - u) / B);
    }
    var += 2.0 * ws * ms * inner;
  }
  mu = mean;
  lambda = mean * mean * mean / std::max(var, 1e-300);
}

// E[A | W_B = a] alone, for locating the kink.
double bridge_mean(double a, double B) {
  const auto& r = bridge_rule();
  double mean = 0.0;
  for (std::size_t k = 0; k < r.x.size(); ++k) {
    const double s = 0.5 * B * (1.0 + r.x[k]);
    mean += 0.5 * B * r.w[k] * std::exp(2.0 * a * s / B + 2.0 * s * (B - s) / B - s);
  }
  return mean;
}

}  // namespace

calibration_ir_cheyette_swaption::calibration_ir_cheyette_swaption(
    bool is_call, const std::shared_ptr<const discount_curve>& curve, const datetime& expiry, const datetime& maturity,
    const tenor& frequency, const std::shared_ptr<const day_count_convention>& day_count,
    const std::vector<double>& strikes, bool strikes_are_offsets)
    : swaption_(std::make_shared<const instrument_ir_swaption>(is_call, curve, expiry, maturity, frequency, day_count,
                                                               strikes, strikes_are_offsets)) {}

matrix<double> calibration_ir_cheyette_swaption::flows(double strike, const model_cheyette& model, double rho) const {
  const auto& swap = *swaption_->swap();
  const auto& dates = swap.all_dates();
  const std::size_t n = dates.size(), f = model.number_of_factors();
  std::vector<double> adjoint;
  swap.swap_value_aad(1.0, strike, swap.dfs(), adjoint);
  vector<double> start(f), end(f);
  model.hjm_model()->integral_decay(swap.expiry(), start);
  matrix<double> out(n, 2);
  for (std::size_t i = 0; i < n; ++i) {
    model.hjm_model()->integral_decay(dates[i], end);
    out(i, 0) = adjoint[i] * swap.dfs()[i];
    out(i, 1) = (end[0] - start[0]) / rho;
  }
  return out;
}

double calibration_ir_cheyette_swaption::price(double root, double node, double time, double mu, double lambda,
                                               const matrix<double>& flows, bool is_call, bool rising) const {
  double output = 0.0;
  if (!std::isfinite(root)) {
    // No boundary: the node is priced at its intrinsic value on today's curve.
    double forward_value = 0.0;
    for (std::size_t i = 0; i < flows.rows(); ++i) forward_value += flows(i, 0);
    output = std::max(is_call ? forward_value : -forward_value, 0.0);
  } else {
    // The payer exercises where V > 0: above the root when V rises with A, below it
    // otherwise; the receiver on the other side, with the opposite sign.
    const bool above = rising == is_call;
    const double shift = std::expm1(node - 0.5 * time);
    for (std::size_t i = 0; i < flows.rows(); ++i) {
      const double g = flows(i, 1), s = 0.5 * g * g, e = flows(i, 0) * std::exp(-g * shift);
      const double below = inverse_gaussian_distribution::cdf(
          root, inverse_gaussian_distribution::tilted_mean(s, mu, lambda), lambda);
      output += e * inverse_gaussian_distribution::laplace(s, mu, lambda) * (above ? 1.0 - below : below);
    }
    if (!is_call) output = -output;
  }
  TARVEX_CHECK(!std::isnan(output), " swaption price is negatif", output);
  return output > epsilon ? output : 0.0;
}

double calibration_ir_cheyette_swaption::node_value(double& root, double node, double time, double mu, double lambda,
                                                    const matrix<double>& flows, bool is_call,
                                                    std::uint64_t max_iterations, double tolerance) const {
  const double shift = std::expm1(node - 0.5 * time);
  // V(A) = sum_i e_i exp(-s_i A): Newton from the carried root. With positive coupons
  // V rises and is concave in A, so Newton approaches the root from below without
  // overshooting; a step below zero means V keeps one sign on A > 0 and the boundary
  // sits at A = 0.
  constexpr std::size_t stack = 64;
  double level_buffer[stack];
  std::vector<double> level_heap(flows.rows() > stack ? flows.rows() : 0);
  double* level = flows.rows() > stack ? level_heap.data() : level_buffer;
  for (std::size_t i = 0; i < flows.rows(); ++i) level[i] = flows(i, 0) * std::exp(-flows(i, 1) * shift);
  auto evaluate = [&](double y, double& slope) {
    double v = 0.0;
    slope = 0.0;
    for (std::size_t i = 0; i < flows.rows(); ++i) {
      if (level[i] == 0.0) continue;
      const double g = flows(i, 1), s = 0.5 * g * g, e = level[i] * std::exp(-s * y);
      v += e;
      slope -= s * e;
    }
    return v;
  };
  double y = std::isfinite(root) && root > 0.0 ? root : 0.0, slope = 0.0;
  bool converged = false;
  for (std::uint64_t it = 0;; ++it) {
    const double v = evaluate(y, slope);
    if (std::fabs(v) < tolerance) {
      converged = true;
      break;
    }
    if (it >= max_iterations || !(slope != 0.0) || !std::isfinite(v)) break;
    double next = y - v / slope;
    if (!(next > 0.0)) {
      if (y == 0.0) {
        converged = true;
        break;
      }
      next = 0.0;
    }
    y = next;
  }
  if (!converged) Warning::warn(SourceLocation{"values", "Library/Analytics/calibration/ir/cheyette/calibration_ir_cheyette_swaption", __LINE__},
                  "swap root finder did not converge!");
  root = y;
  return price(root, node, time, mu, lambda, flows, is_call, slope > 0.0);
}

double calibration_ir_cheyette_swaption::value(double& root, double node, double time, const matrix<double>& flows,
                                               bool is_call, std::uint64_t max_iterations, double tolerance) const {
  double mu = 0.0, lambda = 0.0;
  bridge_law(node, time, mu, lambda);
  return node_value(root, node, time, mu, lambda, flows, is_call, max_iterations, tolerance);
}

double calibration_ir_cheyette_swaption::hjm_price(double strike, const model_cheyette& model) const {
  const auto& swap = swaption_->swap();
  const calibration_ir_hjm_swaption hjm(swap);
  vector<double> root, gradient;
  hjm.initial_root(root, strike, *model.hjm_model());
  const double payer = hjm.value(strike, *model.hjm_model(), root, gradient, 30, 1e-10);
  return swaption_->is_call() ? payer : payer - swap->value(strike, swap->dfs());
}

namespace {

// The quote of a price, floored at intrinsic so that quadrature noise on a deep
// in-the-money strike reads as zero time value rather than an error.
double quote(const interest_rate_swap& swap, double price, double strike, double sign) {
  const double intrinsic = std::max(sign * (swap.swap_rate() - strike), 0.0) * swap.annuity();
  return swap.implied_volatility(std::max(price, intrinsic), strike, sign);
}

}  // namespace

void calibration_ir_cheyette_swaption::values(std::vector<double>& out, const std::shared_ptr<const model_cheyette>& model,
                                              double t) const {
  TARVEX_CHECK_TEXT(model->number_of_factors() == 1, "cheyette smile pricing supports one factor");
  const auto& swap = *swaption_->swap();
  const double sign = swaption_->sign();
  const double rho = model->smile_skew(expiry());
  if (!(t > epsilon) || rho == 0.0) {
    for (double strike : swaption_->strikes()) {
      const double p = hjm_price(strike, *model);
      out.push_back(p > epsilon ? quote(swap, p, strike, sign) : 0.0);
    }
    return;
  }
  // Nodes a = sqrt(B) xi of W_B ~ N(0, B), xi in [-8, 8] (the normal density outside
  // weighs below 1e-15). As B falls, A given a concentrates at its mean and the
  // conditional price tends to the kinked (V)^+; a Gauss rule across the kink converges
  // only like its square, so the range is split where the swap value at the
  // conditional mean of A changes sign and each side gets its own Gauss-Legendre rule.
  const auto& rule = node_rule();
  const bool is_call = swaption_->is_call();
  for (double strike : swaption_->strikes()) {
    const matrix<double> f = flows(strike, *model, rho);
    auto at_mean = [&](double xi) {
      const double a = std::sqrt(t) * xi, shift = std::expm1(a - 0.5 * t), mu = bridge_mean(a, t);
      double v = 0.0;
      for (std::size_t i = 0; i < f.rows(); ++i) v += f(i, 0) * std::exp(-f(i, 1) * shift - 0.5 * f(i, 1) * f(i, 1) * mu);
      return v;
    };
    double lo = -node_range, hi = node_range, split = 0.0;
    const double v_lo = at_mean(lo), v_hi = at_mean(hi);
    if ((v_lo < 0.0) != (v_hi < 0.0)) {
      for (int it = 0; it < 30; ++it) {  // to 1.5e-8 in xi
        const double mid = 0.5 * (lo + hi);
        ((at_mean(mid) < 0.0) == (v_lo < 0.0) ? lo : hi) = mid;
      }
      split = 0.5 * (lo + hi);
    }
    const double edges[3] = {-node_range, split, node_range};
    double root = 0.0, sum = 0.0, total = 0.0;
    for (int panel = 0; panel < 2; ++panel) {
      const double mid = 0.5 * (edges[panel] + edges[panel + 1]), half = 0.5 * (edges[panel + 1] - edges[panel]);
      for (std::size_t j = 0; j < node_count; ++j) {
        const double xi = mid + half * rule.x[j];
        const double weight = half * rule.w[j] * normal_distribution::density(xi);
        total += weight;
        if (std::fabs(weight) < epsilon) continue;
        const double a = std::sqrt(t) * xi;
        double mu = 0.0, lambda = 0.0;
        bridge_law(a, t, mu, lambda);
        sum += weight * node_value(root, a, t, mu, lambda, f, is_call, 30, 1e-10);
      }
    }
    out.push_back(quote(swap, sum / total, strike, sign));
  }
}

void calibration_ir_cheyette_swaption::value_approxitmation(std::vector<double>& out,
                                                           const std::shared_ptr<const model_cheyette>& model,
                                                           const std::vector<datetime>& dates) const {
  const auto& swap = *swaption_->swap();
  const datetime expiry_date = expiry();
  const auto it = std::find(dates.begin(), dates.end(), expiry_date);
  TARVEX_CHECK(it != dates.end(), "expiry ", expiry_date.to_string(), " is not a model date");
  const std::size_t i = static_cast<std::size_t>(it - dates.begin());
  const double T = swap.expiry_double(), B = model->variance(expiry_date), rho = model->smile_skew(expiry_date);
  const double V = rho != 0.0 ? B / (rho * rho)
                              : model->average_volatility()[i] * model->average_volatility()[i] * T;
  // dS/dX at X = 0 on the bonds P0_i e^{-Delta_i X}, by central differences (S is
  // smooth in X; h = 1e-5 leaves an error of order h^2 relative).
  const auto& P0 = swap.dfs();
  const auto& all = swap.all_dates();
  vector<double> start(1), end(1);
  model->hjm_model()->integral_decay(expiry_date, start);
  std::vector<double> up(P0.size()), down(P0.size());
  const double h = 1e-5;
  for (std::size_t k = 0; k < all.size(); ++k) {
    model->hjm_model()->integral_decay(all[k], end);
    const double delta = end[0] - start[0];
    up[k] = P0[k] * std::exp(-delta * h);
    down[k] = P0[k] * std::exp(delta * h);
  }
  const double S0 = swap.swap_rate(P0), dS = (swap.swap_rate(up) - swap.swap_rate(down)) / (2 * h);
  const double sign = swaption_->sign();
  for (double strike : swaption_->strikes()) {
    if (!(B > epsilon) || rho == 0.0) {
      out.push_back(std::fabs(dS) * std::sqrt(V / T));
      continue;
    }
    // S = (S0 - F) + F z, F = S'/rho, z lognormal with total variance B.
    const double F = dS / rho, K = strike - S0 + F, vol = std::sqrt(B / T);
    double payer;
    if (F > 0.0)
      payer = K <= 0.0 ? F - K : black_scholes::price(F, K, T, vol, 1.0, 1.0);
    else
      payer = -K <= 0.0 ? 0.0 : black_scholes::price(-F, -K, T, vol, 1.0, -1.0);
    const double p = sign > 0 ? payer : payer - (S0 - strike);
    out.push_back(quote(swap, p * swap.annuity(), strike, sign));
  }
}

}  // namespace tarvex
