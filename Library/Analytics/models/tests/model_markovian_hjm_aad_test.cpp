#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/models/tests/hjm_test_models.h"

namespace tarvex {
namespace {

using namespace hjm_testing;
using type = parameter_markovian_hjm_type;

// Decays on 2 dates, volatilities on 3; the third factor reverts fast enough that
// kappa tau crosses the switch between the series and the closed forms on the long
// steps, yet slowly enough that the undecayed covariance (growing like e^{2 kappa t})
// leaves the difference quotients their digits.
parameter_markovian_hjm piecewise(type t, std::size_t n) {
  const std::vector<datetime> kd{datetime(2026, 9, 7), datetime(2028, 1, 5)};
  const std::vector<datetime> sd{datetime(2026, 5, 5), datetime(2027, 3, 5), datetime(2029, 1, 5)};
  const matrix<double> rho{{1.0, 0.4, -0.2}, {0.4, 1.0, 0.3}, {-0.2, 0.3, 1.0}};
  matrix<double> k(2, n), s(3, n), r(n, n);
  for (std::size_t f = 0; f < n; ++f) {
    for (std::size_t i = 0; i < 2; ++i)
      k(i, f) = t == type::mean_reversion ? 0.03 + 0.07 * f * f + 0.04 * i : 0.95 - 0.1 * f - 0.04 * i;
    for (std::size_t i = 0; i < 3; ++i) s(i, f) = 0.008 + 0.002 * f - 0.0015 * i + 0.001 * (i == 1);
    for (std::size_t g = 0; g < n; ++g) r(f, g) = rho(f, g);
  }
  return parameter_markovian_hjm(k, s, r, kd, sd, nullptr, t);
}

// Simulation grid that starts after the valuation date, cuts parameter intervals and
// goes past the last parameter date.
const std::vector<datetime> simulation{datetime(2026, 3, 5),  datetime(2026, 9, 7), datetime(2027, 6, 7),
                                       datetime(2028, 1, 5), datetime(2030, 1, 7), datetime(2034, 1, 5)};

struct weights {
  std::mt19937 rng{12345};
  std::uniform_real_distribution<double> u{-1.0, 1.0};
  vector<double> vec(std::size_t n) {
    vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i) w[i] = u(rng);
    return w;
  }
  matrix<double> mat(std::size_t r, std::size_t c) {
    matrix<double> w(r, c);
    for (std::size_t i = 0; i < w.size(); ++i) w.data()[i] = u(rng);
    return w;
  }
};

double dot(const double* a, const double* b, std::size_t n) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

// J = objective(model) against the gradient that adjoint(model, gradient) followed by
// fill_aad leaves on the parameter entries, by central differences in every parameter
// set entry (the model rebuilt from the bumped set each time).
template <class Objective, class Adjoint>
void check_gradient(const parameter_markovian_hjm& p, bool analytic, const std::vector<datetime>& sims,
                    Objective objective, Adjoint adjoint, const std::string& label) {
  const model_markovian_hjm model(p, valuation, analytic ? std::vector<datetime>{} : sims, analytic, {});
  std::vector<double> gradient(model.state_parameters_size(), 0.0);
  adjoint(model, gradient.data());
  model.fill_aad(gradient.data());

  parameter_markovian_hjm q = p;
  const std::size_t P = q.state_parameters_size();
  std::vector<double> x(P);
  q.get_state_parameters(x.data());
  const double J0 = objective(model);
  std::vector<double> fd(P);
  for (std::size_t e = 0; e < P; ++e) {
    const double x0 = x[e], h = 1e-6 * std::max(1.0, std::fabs(x0));
    const auto J = [&](double v) {
      x[e] = v;
      q.set_state_parameters(x.data());
      const model_markovian_hjm bumped(q, valuation, analytic ? std::vector<datetime>{} : sims, analytic, {});
      return objective(bumped);
    };
    fd[e] = (J(x0 + h) - J(x0 - h)) / (2 * h);
    x[e] = x0;
  }
  q.set_state_parameters(x.data());
  EXPECT_TRUE(std::any_of(gradient.begin(), gradient.begin() + P, [](double g) { return g != 0.0; })) << label;
  // The floor covers entries that J hardly depends on, where the difference quotient
  // is rounding noise of size eps |J| / h.
  const double floor = 1e-12 + 100 * std::numeric_limits<double>::epsilon() * std::fabs(J0) / 1e-6;
  for (std::size_t e = 0; e < P; ++e)
    EXPECT_NEAR(gradient[e], fd[e], 1e-6 * std::max(std::fabs(gradient[e]), std::fabs(fd[e])) + floor)
        << label << " entry " << e;
}

struct setup {
  type t;
  std::size_t n;
  bool analytic;
  std::string label() const {
    return std::string(t == type::mean_reversion ? "mean_reversion" : "decay_factor") + " n=" + std::to_string(n) +
           (analytic ? " analytic" : " simulation");
  }
};

std::vector<setup> all_setups() {
  std::vector<setup> out;
  for (type t : {type::mean_reversion, type::decay_factor})
    for (std::size_t n : {1u, 2u, 3u})
      for (bool analytic : {true, false}) out.push_back({t, n, analytic});
  return out;
}

// On a model date, between model dates, before the grid's end and past the last date.
const std::vector<datetime> query_dates{datetime(2026, 9, 7), datetime(2027, 8, 19), datetime(2028, 1, 5),
                                        datetime(2031, 3, 17), datetime(2038, 5, 5)};

TEST(model_markovian_hjm_aad, decay_matches_finite_differences) {
  for (const auto& c : all_setups()) {
    const auto p = piecewise(c.t, c.n);
    const model_markovian_hjm shape(p, valuation, c.analytic ? std::vector<datetime>{} : simulation, c.analytic, {});
    const std::size_t m = shape.model_dates().size();
    weights w;
    for (const datetime& t : query_dates) {
      // From the governing model date, from earlier ones, and from a later one (no step).
      for (std::size_t i : {shape.date_offset(t), std::size_t{1}, m - 1}) {
        const vector<double> W = w.vec(c.n);
        check_gradient(
            p, c.analytic, simulation,
            [&](const model_markovian_hjm& mo) {
              vector<double> out;
              mo.decay(t, i, out);
              return dot(W.data(), out.data(), c.n);
            },
            [&](const model_markovian_hjm& mo, double* g) {
              vector<double> out;
              mo.decay(t, i, out);
              mo.decay_aad(W, out, t, i, g);
            },
            c.label() + " decay " + t.to_string() + " from " + std::to_string(i));
      }
    }
  }
}

TEST(model_markovian_hjm_aad, integral_decay_and_covariance_match_finite_differences) {
  for (const auto& c : all_setups()) {
    const auto p = piecewise(c.t, c.n);
    weights w;
    for (const datetime& t : query_dates) {
      const vector<double> W = w.vec(c.n);
      check_gradient(
          p, c.analytic, simulation,
          [&](const model_markovian_hjm& mo) {
            vector<double> out;
            mo.integral_decay(t, out);
            return dot(W.data(), out.data(), c.n);
          },
          [&](const model_markovian_hjm& mo, double* g) { mo.integral_decay_aad(W, t, g); },
          c.label() + " integral_decay " + t.to_string());
      // Not symmetric, so that both triangles' adjoints must be gathered.
      const matrix<double> V = w.mat(c.n, c.n);
      check_gradient(
          p, c.analytic, simulation,
          [&](const model_markovian_hjm& mo) {
            matrix<double> out;
            mo.states_variable_covariance(t, out);
            return dot(V.data(), out.data(), V.size());
          },
          [&](const model_markovian_hjm& mo, double* g) { mo.states_variable_covariance_aad(V, t, g); },
          c.label() + " covariance " + t.to_string());
    }
  }
}

TEST(model_markovian_hjm_aad, incremental_volatilities_match_finite_differences) {
  for (const auto& c : all_setups()) {
    const auto p = piecewise(c.t, c.n);
    const model_markovian_hjm shape(p, valuation, c.analytic ? std::vector<datetime>{} : simulation, c.analytic, {});
    const auto& md = shape.model_dates();
    weights w;
    // Starting on the valuation date (a zero first row) and after it, skipping model dates.
    const std::vector<std::vector<datetime>> lists{md, {md[1], md[3], md.back()}};
    for (const auto& dates : lists) {
      for (bool mm : {false, true}) {
        const matrix<double> W = w.mat(dates.size(), c.n);
        const auto plain = [&](const model_markovian_hjm& mo, matrix<double>& out) {
          if (mm)
            mo.incremental_volatility_mm(dates, out);
          else
            mo.incremental_volatility_sv(dates, out);
        };
        check_gradient(
            p, c.analytic, simulation,
            [&](const model_markovian_hjm& mo) {
              matrix<double> out(dates.size(), c.n);
              plain(mo, out);
              return dot(W.data(), out.data(), W.size());
            },
            [&](const model_markovian_hjm& mo, double* g) {
              matrix<double> out(dates.size(), c.n);
              plain(mo, out);
              if (mm)
                mo.incremental_volatility_mm_aad(W, out, dates, g);
              else
                mo.incremental_volatility_sv_aad(W, out, dates, g);
            },
            c.label() + (mm ? " mm " : " sv ") + std::to_string(dates.size()) + " dates");
      }
    }
  }
}

TEST(model_markovian_hjm_aad, decompose_matches_finite_differences) {
  const std::vector<datetime> bonds{datetime(2027, 8, 19), datetime(2029, 1, 5), datetime(2033, 6, 6),
                                    datetime(2041, 1, 7)};
  for (const auto& c : all_setups()) {
    const auto p = piecewise(c.t, c.n);
    weights w;
    for (const datetime& t : {datetime(2027, 8, 19), datetime(2030, 1, 7)}) {
      for (bool subtract : {false, true}) {
        const matrix<double> W = w.mat(bonds.size(), c.n);
        check_gradient(
            p, c.analytic, simulation,
            [&](const model_markovian_hjm& mo) {
              matrix<double> out(bonds.size(), c.n);
              mo.decompose(out, t, bonds, subtract);
              return dot(W.data(), out.data(), W.size());
            },
            [&](const model_markovian_hjm& mo, double* g) { mo.decompose_aad(W, t, bonds, g, subtract); },
            c.label() + " decompose " + t.to_string() + (subtract ? " subtracting" : ""));
      }
    }
  }
}

// fill_aad alone: weights on every model block, J = sum of weight times block entry.
TEST(model_markovian_hjm_aad, fill_matches_finite_differences_of_the_blocks) {
  for (const auto& c : all_setups()) {
    const auto p = piecewise(c.t, c.n);
    const model_markovian_hjm shape(p, valuation, c.analytic ? std::vector<datetime>{} : simulation, c.analytic, {});
    const std::size_t P = p.state_parameters_size(), size = shape.state_parameters_size() - P;
    weights w;
    const vector<double> W = w.vec(size);
    check_gradient(
        p, c.analytic, simulation,
        [&](const model_markovian_hjm& mo) {
          std::vector<double> blocks(size);
          mo.get_state_parameters(blocks.data());
          return dot(W.data(), blocks.data(), size);
        },
        [&](const model_markovian_hjm&, double* g) { std::copy_n(W.data(), size, g + P); },
        c.label() + " fill");
  }
}

TEST(model_markovian_hjm_aad, integral_decay_adjoint_lands_on_its_block) {
  const auto p = piecewise(type::mean_reversion, 3);
  const model_markovian_hjm m(p, valuation, {}, true, {});
  const std::size_t size = m.state_parameters_size();
  const std::size_t P = p.state_parameters_size(), md = m.model_dates().size();

  // Adjoints below machine epsilon are dropped whole.
  std::vector<double> g(size, 0.5);
  m.integral_decay_aad(vector<double>{0.0, 1e-17, -1e-17}, datetime(2027, 8, 19), g.data());
  EXPECT_TRUE(std::all_of(g.begin(), g.end(), [](double v) { return v == 0.5; }));

  // On model date k nothing is integrated: the adjoint goes to I row k only. The block
  // follows the parameter entries and D.
  const std::size_t k = 2;
  const vector<double> a{1.0, -2.0, 3.0};
  std::fill(g.begin(), g.end(), 0.0);
  m.integral_decay_aad(a, m.model_dates()[k], g.data());
  const std::size_t row = P + md * 3 + 3 * k;
  for (std::size_t e = 0; e < size; ++e) EXPECT_EQ(g[e], e >= row && e < row + 3 ? a[e - row] : 0.0) << e;
}

TEST(model_markovian_hjm_aad, fill_moves_the_first_decay_row_to_the_decay_factor) {
  matrix<double> k(1, 1, 0.9), s(1, 1, 0.01);
  const parameter_markovian_hjm p(k, s, uniform_correlation(1, 1.0), {valuation}, {valuation}, nullptr,
                                  type::decay_factor);
  const model_markovian_hjm m(p, valuation, {}, true, {datetime(2027, 1, 5)});
  std::vector<double> g(m.state_parameters_size(), 0.0);
  g[p.state_parameters_size()] = 0.75;  // D(0, 0)
  m.fill_aad(g.data());
  EXPECT_EQ(g[p.decays_offset()], 0.75);
  EXPECT_EQ(g[p.volatilities_offset()], 0.0);
}

}  // namespace
}  // namespace tarvex
