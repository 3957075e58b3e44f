#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/logger.h"
#include "Market/interpolated_discount_curve.h"
#include "Math/bachelier.h"
#include "Util/datetime_helper.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

const auto act365 = std::make_shared<const day_count_convention>();

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

datetime add(const datetime& d, const char* t) { return datetime_helper::add_tenor(d, tenor(t), 1); }
double years(const datetime& d) { return act365->fraction(valuation, d); }
double npdf(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2 * M_PI); }

// One-factor Hull-White with constant kappa and sigma, written from the textbook: seen
// from t0 under the t0-forward measure, P(t0, T) = F_T exp(-b_T z - b_T^2 / 2) with
// F_T = P(0, T)/P(0, t0), b_T = B(T - t0) sqrt(V(t0)) and z standard normal.
struct hull_white {
  double kappa, sigma;
  double B(double tau) const { return -std::expm1(-kappa * tau) / kappa; }
  double V(double t0) const { return sigma * sigma * -std::expm1(-2 * kappa * t0) / (2 * kappa); }
};

// Jamshidian: the payer swaption is a put on the coupon bond sum c_i P(t0, t_i) struck
// at 1; at the z* where the coupon bond is worth 1 it splits into zero-bond puts struck
// at P_i(z*). Receiver: the calls.
double jamshidian(const interest_rate_swap& s, const hull_white& hw, double strike, bool payer) {
  const auto& dates = s.all_dates();
  const std::size_t n = dates.size();
  const double t0 = years(dates[0]), p00 = s.dfs()[0];
  std::vector<double> c(n, 0.0), f(n), b(n);
  for (std::size_t j = 0; j < s.fixed_leg_instrument().size(); ++j)
    c[s.fixed_pay_index()[j]] += strike * s.fixed_leg_instrument().dcf(j);
  c[n - 1] += 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    f[i] = s.dfs()[i] / p00;
    b[i] = hw.B(years(dates[i]) - t0) * std::sqrt(hw.V(t0));
  }
  auto bond = [&](std::size_t i, double z) { return f[i] * std::exp(-b[i] * z - 0.5 * b[i] * b[i]); };
  double lo = -40, hi = 40;
  for (int it = 0; it < 200; ++it) {
    const double mid = 0.5 * (lo + hi);
    double v = -1.0;
    for (std::size_t i = 1; i < n; ++i) v += c[i] * bond(i, mid);
    (v > 0 ? lo : hi) = mid;
  }
  const double z = 0.5 * (lo + hi);
  double price = 0.0;
  for (std::size_t i = 1; i < n; ++i) {
    const double x = bond(i, z), d1 = std::log(f[i] / x) / b[i] + 0.5 * b[i], d2 = d1 - b[i];
    price += c[i] * (payer ? x * normalcdf(-d2) - f[i] * normalcdf(-d1) : f[i] * normalcdf(d1) - x * normalcdf(d2));
  }
  return p00 * price;
}

struct priced {
  double price;
  vector<double> root, gradient;
};

priced price(const calibration_ir_hjm_swaption& target, const model_markovian_hjm& model, double strike,
             std::uint64_t iterations = 20) {
  priced out{0.0, vector<double>(), vector<double>(model.number_of_factors())};
  target.initial_root(out.root, strike, model);
  out.price = target.value(strike, model, out.root, out.gradient, iterations, 1e-10);
  return out;
}

TEST(calibration_ir_hjm_swaption, one_factor_price_is_jamshidian_decomposition) {
  const hull_white hw{0.03, 0.009};
  const auto p = constant_parameters({hw.kappa}, {hw.sigma}, matrix<double>{{1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  for (const char* expiry : {"1Y", "5Y", "10Y"})
    for (const char* length : {"1Y", "5Y", "10Y"}) {
      const datetime start = add(valuation, expiry);
      const calibration_ir_hjm_swaption target(curve(), start, add(start, length), tenor("6M"), act365);
      const interest_rate_swap& s = *target.swaption();
      for (double offset : {-0.02, -0.01, 0.0, 0.01, 0.02}) {
        const double strike = target.swap_rate() + offset;
        const priced got = price(target, model, strike);
        const double payer = jamshidian(s, hw, strike, true);
        EXPECT_NEAR(got.price, payer, 1e-10 * payer) << expiry << " x " << length << " " << offset;
        // Receivers by parity against the receiver decomposition.
        const double receiver = got.price - s.value(strike, s.dfs());
        const double expected = jamshidian(s, hw, strike, false);
        EXPECT_NEAR(receiver, expected, 1e-10 * expected) << expiry << " x " << length << " " << offset;
        // The root is on the boundary and the gradient is dV/dx there.
        std::vector<double> dfs(s.all_dates().size());
        matrix<double> d(dfs.size(), 1);
        model.decompose(d, s.expiry(), s.all_dates(), true);
        model_dfs(dfs, got.root, d, s.dfs());
        EXPECT_LT(std::fabs(s.value(strike, dfs)), 1e-10);
        EXPECT_GT(got.gradient[0], 0.0);  // a higher state lowers bond prices: the payer gains
      }
    }
}

TEST(calibration_ir_hjm_swaption, caplets_are_hull_white_bond_puts) {
  const hull_white hw{0.05, 0.011};
  const auto p = constant_parameters({hw.kappa}, {hw.sigma}, matrix<double>{{1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  for (const char* expiry : {"6M", "2Y", "9Y"}) {
    const datetime start = add(valuation, expiry), end = add(start, "6M");
    const calibration_ir_hjm_swaption target(curve(), start, end, tenor("6M"), act365);
    ASSERT_TRUE(target.swaption()->is_caplet());
    for (double offset : {-0.015, 0.0, 0.02}) {
      const double strike = target.swap_rate() + offset;
      // Caplet = (1 + delta K) ZBP(0, t0, t1, 1 / (1 + delta K)), Hull-White closed form.
      const double delta = act365->fraction(start, end), t0 = years(start), x = 1.0 / (1.0 + delta * strike);
      const double p0 = curve()->df(start), p1 = curve()->df(end);
      const double sp = std::sqrt(hw.V(t0)) * hw.B(years(end) - t0);
      const double h = std::log(p1 / (p0 * x)) / sp + 0.5 * sp;
      const double expected = (1.0 + delta * strike) * (x * p0 * normalcdf(-h + sp) - p1 * normalcdf(-h));
      // The root is neither read nor written.
      vector<double> root{123.0}, gradient{7.0};
      const double got = target.value(strike, model, root, gradient, 20, 1e-10);
      EXPECT_NEAR(got, expected, 1e-12 * expected) << expiry << " " << offset;
      EXPECT_EQ(root[0], 123.0);
      EXPECT_EQ(gradient[0], 7.0);
      vector<double> empty;
      target.initial_root(empty, strike, model);
      EXPECT_TRUE(empty.empty());
      const double sigma = target.swaption()->implied_volatility(expected, strike, 1.0);
      EXPECT_NEAR(target.implied_volatility(strike, model, empty, 20, 1e-10), sigma, 1e-11 * sigma);
    }
  }
}

// The payment-lag branch of the boundary formula against E[V(z)^+] integrated
// numerically in the one factor, V from interest_rate_swap::value on model_dfs.
TEST(calibration_ir_hjm_swaption, lagged_payments_price_the_positive_part_of_the_swap) {
  const auto p = constant_parameters({0.04}, {0.012}, matrix<double>{{1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  const datetime start = add(valuation, "3Y");
  auto s = std::make_shared<const interest_rate_swap>(curve(), start, add(start, "4Y"), tenor("1Y"), act365,
                                                      tenor("1M"));
  const calibration_ir_hjm_swaption target(s);
  matrix<double> d(s->all_dates().size(), 1);
  model.decompose(d, s->expiry(), s->all_dates(), true);
  for (double offset : {-0.01, 0.0, 0.015}) {
    const double strike = target.swap_rate() + offset;
    // The payer exercises above the x* where V(x*) = 0 (bisection; V rises with x), and
    // there V is smooth: Simpson's rule on [x*, x* + 12] with 2000 panels is exact to
    // far below the tolerance (error ~h^4 |f^(4)| / 180).
    std::vector<double> dfs(s->all_dates().size());
    auto swap_value = [&](double x) {
      model_dfs(dfs, vector<double>{x}, d, s->dfs());
      return s->value(strike, dfs);
    };
    double lo = -20, hi = 20;
    for (int it = 0; it < 200; ++it) (swap_value(0.5 * (lo + hi)) > 0 ? hi : lo) = 0.5 * (lo + hi);
    const int panels = 2000;
    const double a = 0.5 * (lo + hi), h = 12.0 / panels;
    double integral = 0.0;
    for (int i = 0; i <= panels; ++i) {
      const double x = a + i * h, w = (i == 0 || i == panels) ? 1 : (i % 2 ? 4 : 2);
      integral += w * swap_value(x) * npdf(x);
    }
    integral *= h / 3;
    const double got = price(target, model, strike).price;
    EXPECT_NEAR(got, integral, 1e-10 * integral) << offset;
  }
}

// Two factors: G2++ from the textbook. The states at t0 have covariance
//   V_fg = rho_fg s_f s_g (1 - e^{-(k_f + k_g) t0}) / (k_f + k_g),
// and ln P(t0, T) loads B_f(T - t0) on state f. With L the Cholesky factor of V the
// bonds are F_i exp(-b_i z - |b_i|^2 / 2), b_i = L^T B_i; the second loading is
// L_22 B_2 > 0, so for fixed z_1 the payer exercises above one z_2*, where the inner
// expectation is closed form, and the outer one a composite Simpson integral over
// z_1 (Brigo and Mercurio's one-dimensional G2++ formula).
double g2_payer(const interest_rate_swap& s, const std::vector<double>& k, const std::vector<double>& sg, double rho,
                double strike) {
  const auto& dates = s.all_dates();
  const std::size_t n = dates.size();
  const double t0 = years(dates[0]), p00 = s.dfs()[0];
  auto var = [&](std::size_t f, std::size_t g) {
    const double r = f == g ? 1.0 : rho;
    return r * sg[f] * sg[g] * -std::expm1(-(k[f] + k[g]) * t0) / (k[f] + k[g]);
  };
  const double l11 = std::sqrt(var(0, 0)), l21 = var(1, 0) / l11, l22 = std::sqrt(var(1, 1) - l21 * l21);
  std::vector<double> c(n, 0.0), f(n), b1(n), b2(n);
  for (std::size_t j = 0; j < s.fixed_leg_instrument().size(); ++j)
    c[s.fixed_pay_index()[j]] += strike * s.fixed_leg_instrument().dcf(j);
  c[n - 1] += 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double tau = years(dates[i]) - t0;
    const double B1 = -std::expm1(-k[0] * tau) / k[0], B2 = -std::expm1(-k[1] * tau) / k[1];
    f[i] = s.dfs()[i] / p00;
    b1[i] = l11 * B1 + l21 * B2;
    b2[i] = l22 * B2;
  }
  auto inner = [&](double z1) {
    std::vector<double> g(n);
    for (std::size_t i = 1; i < n; ++i) g[i] = c[i] * f[i] * std::exp(-b1[i] * z1 - 0.5 * (b1[i] * b1[i] + b2[i] * b2[i]));
    double lo = -60, hi = 60;
    for (int it = 0; it < 200; ++it) {
      const double mid = 0.5 * (lo + hi);
      double v = -1.0;
      for (std::size_t i = 1; i < n; ++i) v += g[i] * std::exp(-b2[i] * mid);
      (v > 0 ? lo : hi) = mid;
    }
    const double z = 0.5 * (lo + hi);
    double e = normalcdf(-z);
    for (std::size_t i = 1; i < n; ++i) e -= g[i] * std::exp(0.5 * b2[i] * b2[i]) * normalcdf(-z - b2[i]);
    return e;
  };
  const int panels = 2000;
  const double a = -10, h = 20.0 / panels;
  double integral = 0.0;
  for (int i = 0; i <= panels; ++i) {
    const double z1 = a + i * h, w = (i == 0 || i == panels) ? 1 : (i % 2 ? 4 : 2);
    integral += w * inner(z1) * npdf(z1);
  }
  return p00 * integral * h / 3;
}

TEST(calibration_ir_hjm_swaption, two_factor_prices_match_g2_integration_within_five_hundredths_of_a_bp) {
  const std::vector<double> k{0.03, 0.6}, sg{0.007, 0.009};
  const double rho = -0.6;
  const auto p = constant_parameters(k, sg, matrix<double>{{1.0, rho}, {rho, 1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  for (const char* expiry : {"1Y", "5Y", "10Y"})
    for (const char* length : {"2Y", "5Y", "10Y"}) {
      const datetime start = add(valuation, expiry);
      const calibration_ir_hjm_swaption target(curve(), start, add(start, length), tenor("1Y"), act365);
      const interest_rate_swap& s = *target.swaption();
      for (double offset : {-0.02, 0.0, 0.02}) {
        const double strike = target.swap_rate() + offset;
        const double got = s.implied_volatility(price(target, model, strike).price, strike, 1.0);
        const double expected = s.implied_volatility(g2_payer(s, k, sg, rho, strike), strike, 1.0);
        // Measured below 1e-4 bp; the tangent plane and the curved boundary differ only
        // where the density is small.
        EXPECT_NEAR(got, expected, 0.05e-4) << expiry << " x " << length << " " << offset;
      }
    }
}

TEST(calibration_ir_hjm_swaption, boundary_search_reuses_roots_and_reports_non_convergence) {
  const auto p = constant_parameters({0.03, 0.4}, {0.008, 0.006}, matrix<double>{{1.0, 0.3}, {0.3, 1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  const datetime start = add(valuation, "5Y");
  const calibration_ir_hjm_swaption target(curve(), start, add(start, "10Y"), tenor("1Y"), act365);
  const double strike = target.swap_rate() + 0.005;
  const priced converged = price(target, model, strike);

  // A root already on the boundary is kept bit for bit and the gradient refilled.
  vector<double> root = converged.root, gradient(2);
  EXPECT_EQ(target.value(strike, model, root, gradient, 20, 1e-10), converged.price);
  EXPECT_EQ(root[0], converged.root[0]);
  EXPECT_EQ(root[1], converged.root[1]);
  EXPECT_EQ(gradient[0], converged.gradient[0]);

  // max_iterations = 0 from x = 0: the first evaluation and step only, which is
  // exactly initial_root's point; the miss is logged, and a price still returned.
  std::vector<std::string> lines;
  static std::vector<std::string>* sink_lines;
  sink_lines = &lines;
  logger::SetSink([](int, const std::string& line) { sink_lines->push_back(line); });
  const int cutoff = logger::GetCurrentVerbosityCutoff();
  logger::SetVerbosityCutoff(0);
  vector<double> from_zero(2), expected(2), g(2);
  target.initial_root(expected, strike, model);
  const double rough = target.value(strike, model, from_zero, g, 0, 1e-14);
  logger::SetSink(nullptr);
  logger::SetVerbosityCutoff(cutoff);
  EXPECT_EQ(from_zero[0], expected[0]);
  EXPECT_EQ(from_zero[1], expected[1]);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" pv: "), std::string::npos) << lines[0];
  EXPECT_NEAR(rough, converged.price, 1e-4 * converged.price);

  // Far from the boundary (|V| > 0.75: a start 40 standard deviations out, where the
  // swap is worth nearly its whole float leg) the bracketing steps still reach the root
  // within 20 iterations. One factor, so every root gives the same price.
  const auto p1 = constant_parameters({0.03}, {0.008}, matrix<double>{{1.0}});
  const model_markovian_hjm one(*p1, valuation, {}, true, {});
  const priced near = price(target, one, strike);
  for (double x : {40.0, -25.0}) {
    vector<double> far{x}, far_gradient(1);
    EXPECT_NEAR(target.value(strike, one, far, far_gradient, 20, 1e-10), near.price, 1e-12 * near.price) << x;
    EXPECT_NEAR(far[0], near.root[0], 1e-8) << x;
  }

  // Fallbacks of the implied volatility: a price at machine zero gives 0, a NaN one 10000.
  vector<double> r(2);
  target.initial_root(r, 5.0, model);
  EXPECT_EQ(target.implied_volatility(5.0, model, r, 20, 1e-10), 0.0);
  vector<double> broken{NAN, 0.0};
  EXPECT_EQ(target.implied_volatility(strike, model, broken, 20, 1e-10), 10000.0);
}

TEST(calibration_ir_hjm_swaption, at_the_money_approximation_is_close_for_short_swaps) {
  const auto p = constant_parameters({0.03}, {0.009}, matrix<double>{{1.0}});
  const model_markovian_hjm model(*p, valuation, {}, true, {});
  const datetime start = add(valuation, "2Y");
  const calibration_ir_hjm_swaption target(curve(), start, add(start, "2Y"), tenor("6M"), act365);
  vector<double> root;
  target.initial_root(root, target.swap_rate(), model);
  const double exact = target.implied_volatility(target.swap_rate(), model, root, 20, 1e-10);
  // The estimate moves the annuity's loading with the floating leg's, which shifts it by
  // about S times the swap's duration (here ~6%) from the model's volatility.
  EXPECT_NEAR(target.swaption_price_approximation(model), exact, 0.1 * exact);
}

// seed * d sigma / d(parameter entries) against central differences of
// implied_volatility, the model rebuilt from the bumped parameter set, every search
// started from the same root.
void expect_adjoint_matches_fd(const parameter_markovian_hjm& p, const calibration_ir_hjm_swaption& target,
                               double strike, double tolerance, const std::string& label) {
  const model_markovian_hjm model(p, valuation, {}, true, {});
  vector<double> root;
  target.initial_root(root, strike, model);
  vector<double> start = root;
  std::vector<double> gradient(model.state_parameters_size(), 0.0);
  const double seed = -3.0;
  const double sigma = target.implied_volatility_aad(strike, model, root, 20, 1e-12, seed, gradient.data());
  model.fill_aad(gradient.data());
  vector<double> again = start;
  EXPECT_EQ(sigma, target.implied_volatility(strike, model, again, 20, 1e-12)) << label;

  parameter_markovian_hjm q = p;
  const std::size_t P = q.state_parameters_size();
  std::vector<double> x(P);
  q.get_state_parameters(x.data());
  bool any = false;
  for (std::size_t e = 0; e < P; ++e) {
    const double x0 = x[e], h = 1e-6 * std::max(1e-2, std::fabs(x0));
    auto at = [&](double v) {
      x[e] = v;
      q.set_state_parameters(x.data());
      const model_markovian_hjm bumped(q, valuation, {}, true, {});
      vector<double> r = start;
      return target.implied_volatility(strike, bumped, r, 20, 1e-12);
    };
    const double fd = seed * (at(x0 + h) - at(x0 - h)) / (2 * h);
    x[e] = x0;
    q.set_state_parameters(x.data());
    any = any || gradient[e] != 0.0;
    EXPECT_NEAR(gradient[e], fd, tolerance * std::max(std::fabs(fd), 1e-3 * std::fabs(seed))) << label << " entry " << e;
  }
  EXPECT_TRUE(any) << label;
}

TEST(calibration_ir_hjm_swaption, implied_volatility_adjoint_matches_finite_differences) {
  using type = parameter_markovian_hjm_type;
  // Dated decays and volatilities so that the swaption spans several parameter rows.
  auto piecewise = [](std::size_t n, type t) {
    const std::vector<datetime> kd{datetime(2028, 1, 5), datetime(2033, 1, 5)};
    const std::vector<datetime> sd{datetime(2027, 1, 5), datetime(2029, 1, 5), datetime(2036, 1, 5)};
    matrix<double> k(2, n), s(3, n), r(n, n);
    for (std::size_t f = 0; f < n; ++f) {
      for (std::size_t i = 0; i < 2; ++i) k(i, f) = t == type::mean_reversion ? 0.02 + 0.3 * f + 0.01 * i : 0.97 - 0.2 * f;
      for (std::size_t i = 0; i < 3; ++i) s(i, f) = 0.007 + 0.002 * f - 0.001 * i;
      for (std::size_t g = 0; g < n; ++g) r(f, g) = f == g ? 1.0 : -0.35;
    }
    return parameter_markovian_hjm(k, s, r, kd, sd, nullptr, t);
  };
  const datetime start = add(valuation, "2Y");
  const calibration_ir_hjm_swaption swaption(curve(), start, add(start, "5Y"), tenor("1Y"), act365);
  const calibration_ir_hjm_swaption caplet(curve(), start, add(start, "1Y"), tenor("1Y"), act365);
  auto lagged = std::make_shared<const interest_rate_swap>(curve(), start, add(start, "3Y"), tenor("1Y"), act365,
                                                           tenor("2M"));
  const calibration_ir_hjm_swaption lag(lagged);
  for (type t : {type::mean_reversion, type::decay_factor}) {
    const auto one = piecewise(1, t);
    for (double offset : {-0.01, 0.0, 0.015}) {
      expect_adjoint_matches_fd(one, swaption, swaption.swap_rate() + offset, 1e-6, "1F swaption");
      expect_adjoint_matches_fd(one, caplet, caplet.swap_rate() + offset, 1e-6, "caplet");
      expect_adjoint_matches_fd(one, lag, lag.swap_rate() + offset, 1e-6, "lagged");
    }
    // With two factors the tangent plane is not the boundary, and the root the search
    // lands on moves along the boundary with the parameters; the neglected terms are of
    // the order of the boundary's curvature times that motion (measured: 1.2e-5 relative).
    expect_adjoint_matches_fd(piecewise(2, t), swaption, swaption.swap_rate() + 0.005, 5e-5, "2F swaption");
  }
}

}  // namespace
}  // namespace tarvex
