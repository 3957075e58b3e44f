#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <functional>
#include <random>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/models/hjm_integrals.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/check.h"
#include "Core/tests/testing.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

using namespace hjm_testing;
using type = parameter_markovian_hjm_type;

double years(const datetime& a, const datetime& b) { return (b.value() - a.value()) / 365.0; }

// Hull-White (G1++) quantities for dX = -a X dt + s dW, written independently of the model.
struct hull_white {
  double a, s;
  double B(double t, double T) const { return a == 0 ? T - t : -std::expm1(-a * (T - t)) / a; }
  // Var of int_t^T X(u) du given X(t): V(t, T).
  double V(double t, double T) const {
    const double h = T - t;
    if (a == 0) return s * s * h * h * h / 3;
    const long double A = a, H = h;  // the bracket cancels like (a h)^3 for small a
    return static_cast<double>(s * s / (A * A) *
                               (H + 2 / A * std::exp(-A * H) - 1 / (2 * A) * std::exp(-2 * A * H) - 3 / (2 * A)));
  }
  double state_variance(double t) const { return a == 0 ? s * s * t : s * s * std::expm1(2 * a * t) / (2 * a); }
  // sum of mm^2: int_0^t (s e^{au})^2 I(u)^2 du with I(u) = (1 - e^{-au})/a
  // long double: the bracket cancels like (a t)^2 for small a.
  double mm_variance(double t) const {
    if (a == 0) return s * s * t * t * t / 3;
    const long double A = a, T = t;
    return static_cast<double>(s * s / (A * A) * (std::expm1(2 * A * T) / (2 * A) - 2 * std::expm1(A * T) / A + T));
  }
};

// Every quantity of a one-factor model that follows Hull-White (a, s) from the valuation
// date on: analytic grid, off-grid dates, conditional prices and simulation variances.
void expect_hull_white(const parameter_markovian_hjm& p, double a, double s) {
  const auto dates = monthly_dates(41, 3);
  const hull_white hw{a, s};
  const model_markovian_hjm m(p, valuation, {}, true, dates);
  ASSERT_EQ(m.model_dates().front(), valuation) << a;
  for (const datetime& d : dates) {
    const std::size_t i = m.date_offset(d);
    ASSERT_EQ(m.model_dates()[i], d);
    const double t = years(valuation, d);
    EXPECT_NEAR(m.decay()(i, 0), std::exp(-a * t), 4e-15) << a << " " << t;
    EXPECT_NEAR(m.integral_decay()(i, 0), hw.B(0, t), 1e-14) << a << " " << t;
    EXPECT_NEAR(m.covariance()(i, 0, 0), hw.state_variance(t), 1e-14 * (1 + hw.state_variance(t))) << a;
  }
  EXPECT_EQ(m.covariance()(0, 0, 0), 0.0);
  // Off-grid dates integrate from the governing model date.
  const datetime off(dates[7].value() + 17.0);
  const double t = years(valuation, off);
  vector<double> I;
  m.integral_decay(off, I);
  EXPECT_NEAR(I[0], hw.B(0, t), 1e-14);
  matrix<double> C;
  m.states_variable_covariance(off, C);
  EXPECT_NEAR(C(0, 0), hw.state_variance(t), 1e-14);

  // conditional_price = log P(s,T|X) / (P(0,T)/P(0,s)) with the short-rate factor
  // X = D(s) (x - E x(s)); under the risk-neutral measure E x(s) = -s^2 (e^{as}-1)^2 / (2a^2).
  const datetime s_date = dates[12];
  const double ts = years(valuation, s_date);
  const double mean_x = a == 0 ? -s * s * ts * ts / 2 : -s * s * std::pow(std::expm1(a * ts) / a, 2) / 2;
  matrix<double> states(1, 3);
  states(0, 0) = -0.02;
  states(0, 2) = 0.015;
  vector<double> out(3);
  for (const datetime T : {datetime(s_date.value() + 1000.0), datetime(dates[40].value() + 3000.0), s_date}) {
    const double tT = years(valuation, T);
    m.conditional_price(states, s_date, T, out);
    for (std::size_t q = 0; q < 3; ++q) {
      const double X = std::exp(-a * ts) * (states(0, q) - mean_x);
      const double expected = 0.5 * (hw.V(ts, tT) - hw.V(0, tT) + hw.V(0, ts)) - hw.B(ts, tT) * X;
      // The long-double reference V cancels like 1/(a h)^3: ~2e-11 absolute at a = 1e-4.
      EXPECT_NEAR(out[q], expected, a > 0 && a < 0.01 ? 5e-11 : 1e-13) << "a " << a << " T " << tT << " path " << q;
    }
  }

  // Simulation mode: per-step and integrated variances.
  const model_markovian_hjm sim(p, valuation, dates, false, {});
  double mm2 = 0, prev = 0;
  for (std::size_t k = 0; k < dates.size(); ++k) {
    const double tk = years(valuation, dates[k]);
    const double sv = sim.incremental_volatility_sv()(k, 0);
    EXPECT_NEAR(sv * sv, hw.state_variance(tk) - hw.state_variance(prev), 1e-14 * hw.state_variance(tk)) << a << " " << k;
    mm2 += std::pow(sim.incremental_volatility_mm()(k, 0), 2);
    EXPECT_NEAR(mm2, hw.mm_variance(tk), 1e-13 * (1 + hw.mm_variance(tk))) << a << " " << k;
    prev = tk;
  }
  EXPECT_EQ(sim.incremental_volatility_sv()(0, 0), 0.0);
  EXPECT_EQ(sim.covariance()(0, 0, 0), 0.0);
}

TEST(model_markovian_hjm, one_factor_constant_parameters_is_hull_white) {
  for (double a : {0.0, 1e-4, 1e-3, 1e-2, 0.03, 1.0})
    expect_hull_white(*constant_parameters({a}, {0.01}, uniform_correlation(1, 1.0)), a, 0.01);
}

// A set calibrated earlier and simulated from a later valuation date: rows whose stretch
// ends before the valuation date govern nothing, so wild early rows leave Hull-White
// (0.04, 0.01) from the valuation date on, with nothing accrued before it.
TEST(model_markovian_hjm, parameter_rows_before_the_valuation_date_govern_nothing) {
  const parameter_markovian_hjm p(matrix<double>{{5.0}, {3.0}, {0.04}}, matrix<double>{{0.5}, {0.2}, {0.01}},
                                  uniform_correlation(1, 1.0),
                                  {datetime(2024, 1, 5), datetime(2025, 6, 5), datetime(2030, 1, 7)},
                                  {datetime(2023, 3, 6), datetime(2025, 9, 5), datetime(2035, 1, 5)}, nullptr,
                                  type::mean_reversion);
  expect_hull_white(p, 0.04, 0.01);
  // Decay factors: D at the valuation date is the row in force there, not the first row.
  const parameter_markovian_hjm f(matrix<double>{{0.5}, {0.9}}, matrix<double>{{0.01}}, uniform_correlation(1, 1.0),
                                  {datetime(2024, 1, 5), datetime(2030, 1, 7)}, {datetime(2024, 1, 5)}, nullptr,
                                  type::decay_factor);
  const model_markovian_hjm m(f, valuation, {}, true, {});
  EXPECT_EQ(m.model_dates(), (std::vector<datetime>{valuation, datetime(2030, 1, 7)}));
  EXPECT_EQ(m.decay()(0, 0), 0.9);
  EXPECT_EQ(m.covariance()(0, 0, 0), 0.0);
  EXPECT_NEAR(m.covariance()(1, 0, 0), 1e-4 * years(valuation, datetime(2030, 1, 7)), 1e-19);
}

// kappa s = 40: D(s) ~ 4e-18 is below epsilon, so I(T) - I(s) would round to 0 next to
// I(s) ~ 1/kappa while C(s) ~ e^{2 kappa s}. Each term below is checked to 1e-13 of its
// own size: the terms of a log price cancel to ~1e-5 only at the state's mean, which the
// undecayed state cannot resolve at this decay (see the class comment).
TEST(model_markovian_hjm, fast_mean_reversion_keeps_the_increments_of_I) {
  const double a = 2.0, sigma = 0.01;
  const hull_white hw{a, sigma};
  const auto p = constant_parameters({a}, {sigma}, uniform_correlation(1, 1.0));
  const datetime s(2046, 1, 5), mid(2051, 1, 5), end(2056, 1, 5);
  const double ts = years(valuation, s);
  ASSERT_GE(a * ts, 40.0);
  // Delta = int_s^T e^{-a u} du and Delta * E x(s), both without cancellation; h = T - s
  // counted from the dates (tT - ts would lose 1e-12 of a one-day step).
  const auto delta = [&](double t0, double h) { return std::exp(-a * t0) * hw.B(0, h); };
  const auto delta_mean = [&](double t0, double h) {
    return -hw.B(0, h) * sigma * sigma * std::expm1(a * t0) * -std::expm1(-a * t0) / (2 * a * a);
  };
  const model_markovian_hjm m(*p, valuation, {}, true, {s, mid, end});
  vector<double> mu;
  m.state_drift(s, mu);
  matrix<double> states{{0.0, mu[0], 1e30}};
  vector<double> out(3);
  std::vector<double> on_grid(3);
  const auto grid = std::make_shared<const space_grid>(space_grid::uniform(-1e30, 1e30, 3));
  for (const datetime T : {datetime(s.value() + 1.0), mid, datetime(mid.value() + 400.0), end,
                           datetime(end.value() + 2000.0)}) {
    const double tT = years(valuation, T), d = delta(ts, years(s, T));
    const double V = 0.5 * (hw.V(ts, tT) - hw.V(0, tT) + hw.V(0, ts)), dm = delta_mean(ts, years(s, T));
    m.conditional_price(states, s, T, out);
    m.conditional_price(on_grid.data(), {grid}, s, T);
    for (std::size_t q = 0; q < 3; ++q) {
      const double x = states(0, q);
      EXPECT_NEAR(out[q], V - d * x + dm, 1e-13 * (std::fabs(d * x) + std::fabs(dm))) << tT << " path " << q;
      const double y = grid->axis()[q];  // x = mu + y
      EXPECT_NEAR(on_grid[q], V - d * (mu[0] + y) + dm, 1e-13 * (std::fabs(d * (mu[0] + y)) + std::fabs(dm)))
          << tT << " node " << q;
    }
    // Loadings of log P(s, T) on the state at s: Delta times the state's deviation.
    matrix<double> loadings(1, 1);
    m.decompose(loadings, s, {T}, true);
    const double expected = d * std::sqrt(hw.state_variance(ts));
    EXPECT_NEAR(loadings(0, 0), expected, 1e-13 * expected) << tT;
  }
  // Simulation: y takes Delta I x_prev + u W per step; paths differing only in x_prev
  // or in W isolate Delta I and u from the step's deterministic terms (X and W large
  // enough that y's rounding at the size of q does not show).
  const std::vector<datetime> sims{valuation, s, mid, end};
  const model_markovian_hjm sim(*p, valuation, sims, false, {});
  for (std::uint64_t k : {2u, 3u}) {
    const double X = 1e36, W = 1e20;
    matrix<double> current(2, 3), previous, draws(1, 3, 0.0);
    current(0, 1) = X;
    draws(0, 2) = W;
    sim.simulation_step(nullptr, k, draws, previous, current);
    const double t0 = years(valuation, sims[k - 1]), t = years(valuation, sims[k]), h = years(sims[k - 1], sims[k]);
    const double d = delta(t0, h);
    EXPECT_NEAR((current(1, 1) - current(1, 0)) / X, d, 1e-13 * d) << k;
    // u = mm - I(t) sv = -N / (mm + I(t) sv) with N = I(t)^2 sv^2 - mm^2
    //   = int_{t0}^t s^2 e^{2au} (I(t) - I(u)) (I(t) + I(u)) du, integrated by hand.
    const double a2 = a * a, e1 = -std::expm1(-a * h), e2 = -std::expm1(-2 * a * h);
    const double N = 2 * sigma * sigma * std::exp(a * t) / a2 * (e1 / a - e2 / (2 * a)) -
                     sigma * sigma / a2 * (h - e2 / (2 * a));
    const double I = hw.B(0, t), sv = sigma * std::exp(a * t) * std::sqrt(e2 / (2 * a));
    const double u = -N / (std::sqrt(I * I * sv * sv - N) + I * sv);
    EXPECT_NEAR((current(1, 2) - current(1, 0)) / W, u, 1e-12 * std::fabs(u)) << k;
  }
}

TEST(hjm_integrals, series_and_closed_forms_agree_across_the_switch) {
  // References: closed forms in long double away from 0, two Taylor terms near 0.
  for (double w : {-2.0, -0.3, -0.05, 0.05, 0.5, 0.9999999, 1.0, 1.0000001, 3.0}) {
    const long double W = w;
    const auto E = [](long double x) { return std::expm1(x) / x; };
    const auto near = [](double got, long double want) { return std::fabs(got - static_cast<double>(want)) <= 1.5e-15 * std::fabs(static_cast<double>(want)) + 1e-300; };
    EXPECT_TRUE(near(hjm_integrals::G(w), (std::expm1(W) - W) / (W * W))) << w;
    EXPECT_TRUE(near(hjm_integrals::F1(w), (E(2 * W) - E(W)) / W)) << w;
    EXPECT_TRUE(near(hjm_integrals::F2(w), (E(2 * W) - 2 * E(W) + 1) / (W * W))) << w;
  }
  for (double w : {0.0, 1e-300, 1e-12, -1e-9}) {
    EXPECT_NEAR(hjm_integrals::G(w), 0.5 + w / 6, 1e-16) << w;
    EXPECT_NEAR(hjm_integrals::F1(w), 0.5 + w / 2, 1e-16) << w;
    EXPECT_NEAR(hjm_integrals::F2(w), 1.0 / 3 + w / 4, 1e-16) << w;
  }
}

// Piecewise-constant parameters: row r covers (d_{r-1}, d_r], the last row the rest.
// Integrated segment by segment between breakpoints with Simpson's rule.
struct piecewise_reference {
  std::vector<datetime> kd, sd;
  matrix<double> k, s, rho;
  type t;
  static std::size_t row(const std::vector<datetime>& d, double u) {
    for (std::size_t r = 0; r < d.size(); ++r)
      if (u <= years(valuation, d[r]) + 1e-12) return r;
    return d.size() - 1;
  }
  void at(double T, std::vector<double>& D, std::vector<double>& I, matrix<double>& C) const {
    const std::size_t n = k.columns();
    std::vector<double> breaks{0.0};
    for (const auto* dates : {&kd, &sd})
      for (const auto& d : *dates)
        if (years(valuation, d) > 0 && years(valuation, d) < T) breaks.push_back(years(valuation, d));
    breaks.push_back(T);
    std::sort(breaks.begin(), breaks.end());
    D.assign(n, t == type::mean_reversion ? 1.0 : k(0, 0));
    I.assign(n, 0.0);
    C = matrix<double>(n, n);
    for (std::size_t seg = 0; seg + 1 < breaks.size(); ++seg) {
      const double a = breaks[seg], b = breaks[seg + 1];
      if (b <= a) continue;
      const double mid = 0.5 * (a + b);
      const std::size_t rk = row(kd, mid), rs = row(sd, mid), panels = 2000;
      const double h = (b - a) / panels;
      const std::vector<double> D0 = D;
      const auto Du = [&](std::size_t f, double u) {
        return t == type::mean_reversion ? D0[f] * std::exp(-k(rk, f) * (u - a)) : k(rk, f);
      };
      for (std::size_t i = 0; i <= panels; ++i) {
        const double u = a + i * h, w = (i == 0 || i == panels ? 1.0 : (i % 2 ? 4.0 : 2.0)) * h / 3;
        for (std::size_t f = 0; f < n; ++f) I[f] += w * Du(f, u);
        for (std::size_t f = 0; f < n; ++f)
          for (std::size_t g = 0; g < n; ++g) {
            const double qf = s(rs, f) / (t == type::mean_reversion ? Du(f, u) : 1.0);
            const double qg = s(rs, g) / (t == type::mean_reversion ? Du(g, u) : 1.0);
            C(f, g) += w * qf * qg * rho(f, g);
          }
      }
      for (std::size_t f = 0; f < n; ++f) D[f] = Du(f, b);
    }
  }
};

TEST(model_markovian_hjm, piecewise_multi_factor_matches_quadrature_and_is_grid_independent) {
  const std::vector<datetime> kd{datetime(2027, 1, 5), datetime(2029, 7, 5), datetime(2033, 1, 5)};
  const std::vector<datetime> sd{datetime(2026, 7, 6), datetime(2028, 1, 5), datetime(2030, 1, 7),
                                 datetime(2036, 1, 7)};
  matrix<double> rho{{1.0, 0.4, -0.2}, {0.4, 1.0, 0.3}, {-0.2, 0.3, 1.0}};
  for (type t : {type::mean_reversion, type::decay_factor}) {
    for (std::size_t n : {2u, 3u}) {
      matrix<double> k(3, n), s(4, n), r(n, n);
      for (std::size_t f = 0; f < n; ++f) {
        for (std::size_t i = 0; i < 3; ++i)
          k(i, f) = t == type::mean_reversion ? 0.02 + 0.3 * f + 0.05 * i : 0.95 - 0.1 * f - 0.05 * i;
        for (std::size_t i = 0; i < 4; ++i) s(i, f) = 0.006 + 0.002 * f - 0.001 * i;
        for (std::size_t g = 0; g < n; ++g) r(f, g) = rho(f, g);
      }
      const parameter_markovian_hjm p(k, s, r, kd, sd, nullptr, t);
      const model_markovian_hjm m(p, valuation, {}, true, {});
      const piecewise_reference ref{kd, sd, k, s, r, t};
      // On the grid, between grid dates and after the last parameter date.
      for (const datetime& d : {kd[1], sd[2], datetime(2031, 3, 17), datetime(2038, 5, 5)}) {
        std::vector<double> D, I;
        matrix<double> C;
        ref.at(years(valuation, d), D, I, C);
        vector<double> mI, mD;
        matrix<double> mC;
        m.integral_decay(d, mI);
        m.decay(d, m.date_offset(d), mD);
        m.states_variable_covariance(d, mC);
        for (std::size_t a = 0; a < n; ++a) {
          EXPECT_NEAR(mI[a], I[a], 1e-11 * I[a]) << d.to_string() << " " << a;
          EXPECT_NEAR(mD[a], D[a], 1e-13) << d.to_string() << " " << a;
          for (std::size_t b = 0; b < n; ++b) EXPECT_NEAR(mC(a, b), C(a, b), 1e-11 * std::sqrt(C(a, a) * C(b, b))) << d.to_string();
        }
      }
      // Variance of log P(t, T) seen from the valuation date, (I(T) - I(t))' C(t) (I(T) - I(t)),
      // from decompose's loadings: it mixes decays and volatilities of interleaved rows.
      for (const auto& [t0, T] : {std::pair{sd[0], kd[2]}, std::pair{datetime(2027, 8, 19), datetime(2038, 5, 5)}}) {
        std::vector<double> D, It, IT;
        matrix<double> Ct, CT;
        ref.at(years(valuation, t0), D, It, Ct);
        ref.at(years(valuation, T), D, IT, CT);
        double expected = 0, got = 0;
        for (std::size_t a = 0; a < n; ++a)
          for (std::size_t b = 0; b < n; ++b) expected += (IT[a] - It[a]) * Ct(a, b) * (IT[b] - It[b]);
        matrix<double> L(1, n);
        m.decompose(L, t0, {T}, true);
        for (std::size_t a = 0; a < n; ++a) got += L(0, a) * L(0, a);
        EXPECT_NEAR(got, expected, 1e-10 * expected) << t0.to_string() << " " << T.to_string();
      }
      // A monthly simulation grid sees the same decays, integrals and state variances.
      const auto sim_dates = monthly_dates(121, 1);
      const model_markovian_hjm sim(p, valuation, sim_dates, false, {});
      double var = 0;
      for (std::size_t i = 0; i < sim_dates.size(); i += 10) {
        const std::size_t j = sim.simulation_index()[i];
        vector<double> I;
        m.integral_decay(sim_dates[i], I);
        matrix<double> C;
        m.states_variable_covariance(sim_dates[i], C);
        EXPECT_NEAR(sim.integral_decay()(j, 0), I[0], 1e-14 * I[0]);
        EXPECT_NEAR(sim.covariance()(j, n - 1, n - 1), C(n - 1, n - 1), 1e-13 * C(n - 1, n - 1));
        var = C(0, 0);
      }
      EXPECT_GT(var, 0.0);
    }
  }
}

TEST(model_markovian_hjm, decay_factor_single_date_and_grid_edges) {
  const auto p = constant_parameters({0.9}, {0.01}, uniform_correlation(1, 1.0), type::decay_factor);
  const auto dates = monthly_dates(9, 6);
  const model_markovian_hjm m(*p, valuation, {}, true, dates);
  for (std::size_t i = 0; i < dates.size(); ++i) {
    EXPECT_EQ(m.decay()(i, 0), 0.9);
    EXPECT_NEAR(m.integral_decay()(i, 0), 0.9 * years(valuation, dates[i]), 1e-15);
  }
  // Analytic grid: the valuation date, then every parameter date once.
  const parameter_markovian_hjm q(matrix<double>{{0.1}, {0.2}}, matrix<double>{{0.01}, {0.02}},
                                  uniform_correlation(1, 1.0), {datetime(2027, 1, 5), datetime(2028, 1, 5)},
                                  {datetime(2027, 1, 5), datetime(2029, 1, 5)}, nullptr, type::mean_reversion);
  const model_markovian_hjm a(q, valuation, {}, true, {});
  EXPECT_EQ(a.model_dates(), (std::vector<datetime>{valuation, datetime(2027, 1, 5), datetime(2028, 1, 5),
                                                    datetime(2029, 1, 5)}));
  // kappa = 0.1 over the first year: the integral step adds (1 - e^{-0.1}) / 0.1 times D.
  EXPECT_NEAR(a.integral_decay()(1, 0), -std::expm1(-0.1 * years(valuation, datetime(2027, 1, 5))) / 0.1, 1e-15);
  // Dates before the grid or on it integrate nothing.
  vector<double> I;
  a.integral_decay(datetime(2020, 1, 1), I);
  EXPECT_EQ(I[0], 0.0);
}

TEST(model_markovian_hjm, decompose_reproduces_the_bond_covariance) {
  const auto p = constant_parameters({0.03, 0.5, 1.5}, {0.008, 0.006, 0.004},
                                     matrix<double>{{1.0, -0.3, 0.2}, {-0.3, 1.0, 0.5}, {0.2, 0.5, 1.0}});
  const auto dates = monthly_dates(41, 3);
  const model_markovian_hjm m(*p, valuation, {}, true, dates);
  const datetime t = dates[8];
  const std::vector<datetime> bonds{dates[8], dates[12], dates[20], dates[40]};
  for (bool subtract : {false, true}) {
    matrix<double> out(bonds.size(), 3);
    m.decompose(out, t, bonds, subtract);
    matrix<double> C;
    m.states_variable_covariance(t, C);
    vector<double> start(3), gi(3), gj(3);
    if (subtract) m.integral_decay(t, start);
    for (std::size_t i = 0; i < bonds.size(); ++i) {
      m.integral_decay(bonds[i], gi);
      for (std::size_t j = 0; j < bonds.size(); ++j) {
        m.integral_decay(bonds[j], gj);
        double expected = 0, got = 0;
        for (std::size_t a = 0; a < 3; ++a) {
          got += out(i, a) * out(j, a);
          for (std::size_t b = 0; b < 3; ++b) expected += (gi[a] - start[a]) * C(a, b) * (gj[b] - start[b]);
        }
        EXPECT_NEAR(got, expected, 1e-15 + 1e-12 * std::fabs(expected)) << subtract << " " << i << " " << j;
      }
    }
    if (subtract) {
      for (std::size_t b = 0; b < 3; ++b) EXPECT_NEAR(out(0, b), 0.0, 1e-16);
    }
  }
}

TEST(model_markovian_hjm, conditional_price_edges_and_size_check) {
  const auto p = constant_parameters({0.03, 0.4}, {0.01, 0.005}, uniform_correlation(2, 0.3));
  const auto dates = monthly_dates(11, 12);
  const model_markovian_hjm m(*p, valuation, {}, true, dates);
  matrix<double> states(2, 4, 0.0);
  vector<double> out(4);
  m.conditional_price(states, dates[3], dates[3], out);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0.0);
  m.conditional_price(states, dates[3], dates[8], out);
  EXPECT_LT(out[0], 0.0);  // zero states: the same convexity term on every path
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(out[i], out[0]);
  vector<double> wrong(3);
  EXPECT_EQ(testing::error_text([&] { m.conditional_price(states, dates[3], dates[8], wrong); }),
            "Expected expr.size() == rhs.size() to be true, but got false.  expression has diferrent size 4 than "
            "destination 3");
}

// A 2x3 output for 3 dates x 2 factors has the right size and the wrong shape: written
// row by row it would run past its end, so each operation checks rows and columns.
TEST(model_markovian_hjm, outputs_of_the_wrong_shape_are_refused) {
  const auto p = constant_parameters({0.03, 0.4}, {0.01, 0.005}, uniform_correlation(2, 0.3));
  const auto dates = monthly_dates(3, 12);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  const std::string shape = " to be true, but got false.  ";
  const std::string by_date = "out.rows() == dates.size() && out.columns() == ";
  const std::string adjoint_by_date = "adjoint.rows() == dates.size() && adjoint.columns() == n" + shape;
  matrix<double> wide(2, 3), flat(1, 4);
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { m.decompose(wide, dates[1], dates, true); },
       "Expected " + by_date + "n" + shape + "loadings 2x3 is differents from dates x factors 3x2"},
      {[&] { m.incremental_volatility_sv(dates, wide); },
       "Expected " + by_date + "number_of_factors()" + shape + "sv output 2x3 is differents from dates x factors 3x2"},
      {[&] { m.incremental_volatility_mm(dates, wide); },
       "Expected " + by_date + "number_of_factors()" + shape + "mm output 2x3 is differents from dates x factors 3x2"},
      {[&] { m.states_variable_covariance(dates[1], flat); },
       "Expected out.rows() == n && out.columns() == n" + shape +
           "covariance output 1x4 is differents from factors x factors 2x2"},
      {[&] { m.decompose_aad(wide, dates[1], dates, nullptr, true); },
       "Expected " + adjoint_by_date + "loadings adjoint 2x3 is differents from dates x factors 3x2"},
      {[&] { m.incremental_volatility_sv_aad(wide, matrix<double>(3, 2), dates, nullptr); },
       "Expected " + adjoint_by_date + "adjoint 2x3 is differents from dates x factors 3x2"},
      {[&] { m.incremental_volatility_mm_aad(matrix<double>(3, 2), wide, dates, nullptr); },
       "Expected value.rows() == dates.size() && value.columns() == n" + shape +
           "value 2x3 is differents from dates x factors 3x2"},
      {[&] { m.states_variable_covariance_aad(flat, dates[1], nullptr); },
       "Expected adjoint.rows() == n && adjoint.columns() == n" + shape +
           "covariance adjoint 1x4 is differents from factors x factors 2x2"},
  };
  for (const auto& [call, text] : cases) EXPECT_EQ(testing::error_text(call), text);
}

TEST(model_markovian_hjm, model_dfs_reference_row_and_clamp) {
  const matrix<double> same{{0.1, 0.2}, {0.1, 0.2}};
  std::vector<double> out(2);
  model_dfs(out, vector<double>{0.0, 0.0}, same, {0.97, 0.91});
  EXPECT_EQ(out, (std::vector<double>{0.97, 0.91}));
  const matrix<double> far{{0.0, 0.0}, {50.0, 0.0}};
  model_dfs(out, vector<double>{1.0, 0.0}, far, {0.97, 0.91});
  EXPECT_EQ(out[0], 0.97);
  EXPECT_EQ(out[1], 0.91 * std::exp(-37.0));
}

TEST(model_markovian_hjm, simulation_step_with_zero_draws_and_the_previous_copy) {
  const auto p = constant_parameters({0.05}, {0.01}, uniform_correlation(1, 1.0));
  const auto dates = monthly_dates(5, 3);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  matrix<double> current(2, 3), previous, draws(1, 3, 0.0);
  current(0, 1) = 0.01;
  current(1, 2) = 0.002;
  const matrix<double> before = current;
  m.simulation_step(nullptr, 2, draws, previous, current);
  EXPECT_EQ(previous, before);
  const double sv = m.incremental_volatility_sv()(2, 0), mm = m.incremental_volatility_mm()(2, 0);
  const double I1 = m.integral_decay()(1, 0), I2 = m.integral_decay()(2, 0);
  const double u = mm - I2 * sv, q = u * u + (I2 - I1) * m.covariance()(1, 0, 0) * (I2 + I1);
  for (std::size_t p_ = 0; p_ < 3; ++p_) {
    EXPECT_NEAR(current(0, p_), before(0, p_) - sv * mm, 1e-18);
    EXPECT_NEAR(current(1, p_), before(1, p_) + 0.5 * q + (I2 - I1) * before(0, p_), 1e-18);
  }
  const std::size_t allocations = cpu_allocator::allocation_count();
  m.simulation_step(nullptr, 3, draws, previous, current);
  EXPECT_EQ(cpu_allocator::allocation_count(), allocations);  // storage reused
  EXPECT_THROW(m.simulation_step(nullptr, 3, matrix<double>(1, 2), previous, current), Error);
}

// The path loops run in blocks of paths: a path's states may not depend on its block or
// its position in one, so a wide run must equal each path run on its own, bit for bit.
TEST(model_markovian_hjm, simulation_step_and_conditional_price_are_path_by_path) {
  const auto p = constant_parameters({0.02, 0.3, 1.1}, {0.01, 0.007, 0.004}, uniform_correlation(3, 0.4));
  const auto dates = monthly_dates(5, 3);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  const std::size_t paths = 2 * 256 + 37;
  std::mt19937_64 rng(17);
  std::normal_distribution<double> normal;
  matrix<double> current(4, paths), previous, draws(3, paths);
  for (std::size_t i = 0; i < current.size(); ++i) current.data()[i] = 0.01 * normal(rng);
  for (std::size_t i = 0; i < draws.size(); ++i) draws.data()[i] = normal(rng);
  const matrix<double> start = current;
  m.simulation_step(nullptr, 2, draws, previous, current);
  vector<double> price(paths);
  m.conditional_price(current, dates[2], dates.back(), price);
  EXPECT_EQ(previous, start);
  for (std::size_t q = 0; q < paths; ++q) {
    matrix<double> one(4, 1), one_previous, one_draws(3, 1);
    for (std::size_t r = 0; r < 4; ++r) one(r, 0) = start(r, q);
    for (std::size_t f = 0; f < 3; ++f) one_draws(f, 0) = draws(f, q);
    m.simulation_step(nullptr, 2, one_draws, one_previous, one);
    vector<double> one_price(1);
    m.conditional_price(one, dates[2], dates.back(), one_price);
    for (std::size_t r = 0; r < 4; ++r) ASSERT_EQ(one(r, 0), current(r, q)) << "row " << r << " path " << q;
    ASSERT_EQ(one_price[0], price[q]) << "path " << q;
  }
}

// P(s_k, T) P(0, s_k) exp(-y) averages to P(0, T): E[exp(cp - y)] = 1 on every date.
void expect_martingale(const std::vector<double>& kappa, const std::vector<double>& sigma, const matrix<double>& rho,
                       const std::shared_ptr<const change_of_measure>& com, unsigned seed) {
  const std::size_t n = kappa.size(), paths = 200000;
  const auto p = constant_parameters(kappa, sigma, rho);
  const auto dates = monthly_dates(21, 6);
  const model_markovian_hjm m(*p, valuation, dates, false, {});
  // Correlate independent normals through the Cholesky factor of rho (written here).
  matrix<double> L(n, n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      double v = rho(i, j);
      for (std::size_t l = 0; l < j; ++l) v -= L(i, l) * L(j, l);
      L(i, j) = i == j ? std::sqrt(v) : v / L(j, j);
    }
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  matrix<double> current(n + 1, paths), previous, draws(n, paths);
  vector<double> cp(paths);
  std::vector<double> z(n);
  for (std::size_t k = 1; k < dates.size(); ++k) {
    for (std::size_t q = 0; q < paths; ++q) {
      for (auto& v : z) v = normal(rng);
      for (std::size_t i = 0; i < n; ++i) {
        double w = 0;
        for (std::size_t j = 0; j <= i; ++j) w += L(i, j) * z[j];
        draws(i, q) = w;
      }
    }
    m.simulation_step(com, k, draws, previous, current);
    for (const datetime T : {dates[k], datetime(dates[k].value() + 1826.0), datetime(dates.back().value() + 3653.0)}) {
      m.conditional_price(current, dates[k], T, cp);
      double sum = 0, sum2 = 0;
      for (std::size_t q = 0; q < paths; ++q) {
        const double v = std::exp(cp[q] - current(n, q));
        sum += v;
        sum2 += v * v;
      }
      const double mean = sum / paths, se = std::sqrt((sum2 / paths - mean * mean) / paths);
      EXPECT_LT(std::fabs(mean - 1.0), 3 * se + 1e-15)
          << n << " factors, date " << dates[k].to_string() << ", T " << T.to_string() << ": mean " << mean
          << " se " << se;
    }
  }
}

TEST(model_markovian_hjm, simulation_step_keeps_the_deflated_bond_a_martingale) {
  expect_martingale({0.03}, {0.012}, uniform_correlation(1, 1.0), nullptr, 11);
  expect_martingale({0.02, 0.8}, {0.009, 0.007}, matrix<double>{{1.0, -0.6}, {-0.6, 1.0}}, nullptr, 12);
  expect_martingale({0.01, 0.3, 1.2}, {0.007, 0.006, 0.005},
                    matrix<double>{{1.0, 0.5, -0.3}, {0.5, 1.0, 0.2}, {-0.3, 0.2, 1.0}},
                    std::make_shared<const change_of_measure>(), 13);
}

TEST(change_of_measure, drift_is_a_row_dot_product_and_empty_is_off) {
  const change_of_measure none;
  EXPECT_EQ(none.drift(5, 2), 0.0);
  matrix<double> b(3, 40);
  for (std::size_t k = 0; k < 3; ++k)
    for (std::size_t j = 0; j < 40; ++j) b(k, j) = 0.01 * (k + 1) + 0.001 * j;
  matrix<double> identity(40, 40);
  for (std::size_t i = 0; i < 40; ++i) identity(i, i) = 1.0;
  const matrix<double> b_copy = b;
  const change_of_measure c(std::move(identity), std::move(b));
  for (std::size_t k = 0; k < 3; ++k)
    for (std::size_t i : {0u, 31u, 32u, 39u}) EXPECT_EQ(c.drift(k, i), b_copy(k, i));
  EXPECT_THROW(c.drift(3, 0), Error);
}

}  // namespace
}  // namespace tarvex
