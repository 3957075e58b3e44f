#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "Core/logger.h"
#include "Core/tests/testing.h"
#include "Math/levenberg_marquardt.h"

namespace tarvex {
namespace {

using testing::error_text;
using residual_function = levenberg_marquardt::residual_function;
using jacobian_function = levenberg_marquardt::jacobian_function;

lm_parameters settings(std::size_t m, std::size_t n, int max_iterations, double tolerance = 1e-12) {
  lm_parameters p(m, n, max_iterations);
  p.tolerance = tolerance;
  return p;
}

// Rosenbrock as least squares: r = (10 (x1 - x0^2), 1 - x0), minimum 0 at (1, 1).
void rosenbrock(const vector<double>& x, vector<double>& r) {
  r[0] = 10.0 * (x[1] - x[0] * x[0]);
  r[1] = 1.0 - x[0];
}
void rosenbrock_jacobian(const vector<double>& x, matrix<double>& j) {
  j(0, 0) = -20.0 * x[0];
  j(0, 1) = 10.0;
  j(1, 0) = -1.0;
  j(1, 1) = 0.0;
}

// y = a exp(b t) on t = 0, 0.25, ..., 4.75.
std::vector<double> sample_times() {
  std::vector<double> t;
  for (int i = 0; i < 20; ++i) t.push_back(0.25 * i);
  return t;
}
residual_function exponential_fit(const std::vector<double>& t, const std::vector<double>& y) {
  return [t, y](const vector<double>& x, vector<double>& r) {
    for (std::size_t i = 0; i < t.size(); ++i) r[i] = x[0] * std::exp(x[1] * t[i]) - y[i];
  };
}
jacobian_function exponential_jacobian(const std::vector<double>& t) {
  return [t](const vector<double>& x, matrix<double>& j) {
    for (std::size_t i = 0; i < t.size(); ++i) {
      j(i, 0) = std::exp(x[1] * t[i]);
      j(i, 1) = x[0] * t[i] * std::exp(x[1] * t[i]);
    }
  };
}

// Counts the calls of a function and remembers the last argument it saw.
struct recorder {
  std::size_t calls = 0;
  std::vector<double> last;
  residual_function wrap(residual_function f) {
    return [this, f](const vector<double>& x, vector<double>& r) {
      ++calls;
      last.assign(x.begin(), x.end());
      f(x, r);
    };
  }
};

TEST(levenberg_marquardt, rosenbrock_converges_with_every_jacobian_source_and_counts_every_call) {
  for (int mode = 0; mode < 3; ++mode) {  // analytic, forward, central differences
    SCOPED_TRACE(mode);
    lm_parameters p = settings(2, 2, 200);
    p.central_differences = mode == 2;
    recorder residuals;
    std::size_t jacobian_calls = 0;
    const jacobian_function jacobian = [&](const vector<double>& x, matrix<double>& j) {
      ++jacobian_calls;
      rosenbrock_jacobian(x, j);
    };
    const auto lm = mode == 0 ? levenberg_marquardt(p, residuals.wrap(rosenbrock), jacobian)
                              : levenberg_marquardt(p, residuals.wrap(rosenbrock));
    const auto out = lm(vector<double>{-1.2, 1.0});
    EXPECT_TRUE(out.converged()) << to_string(out.termination);
    EXPECT_NEAR(out.solution[0], 1.0, 1e-10);
    EXPECT_NEAR(out.solution[1], 1.0, 1e-10);
    EXPECT_LT(out.residual_norm(), 1e-10);
    EXPECT_DOUBLE_EQ(out.initial_cost, 0.5 * (4.4 * 4.4 + 2.2 * 2.2));
    EXPECT_LT(out.iterations, 60u);
    // The reported counts are the calls made; a finite-difference Jacobian costs N
    // (forward) or 2N (central) residuals and never calls the Jacobian function.
    EXPECT_EQ(out.residual_evaluations, residuals.calls);
    if (mode == 0) {
      EXPECT_EQ(out.jacobian_evaluations, jacobian_calls);
      EXPECT_LE(out.residual_evaluations, out.iterations + 2);
    } else {
      EXPECT_EQ(jacobian_calls, 0u);
      EXPECT_LE(out.residual_evaluations, out.iterations + 2 + out.jacobian_evaluations * (mode == 2 ? 4 : 2));
      EXPECT_GE(out.residual_evaluations, out.jacobian_evaluations * (mode == 2 ? 4 : 2));
    }
    // The last residual call was made at the returned solution, bit for bit.
    EXPECT_EQ(residuals.last, (std::vector<double>{out.solution[0], out.solution[1]}));
    EXPECT_EQ(out.residuals.size(), 2u);
    EXPECT_EQ(out.residuals[1], 1.0 - out.solution[0]);
  }
}

TEST(levenberg_marquardt, exact_exponential_data_is_fitted_to_rounding_and_fd_agrees_with_analytic) {
  const auto t = sample_times();
  std::vector<double> y;
  for (double ti : t) y.push_back(2.0 * std::exp(-0.7 * ti));
  const lm_parameters p = settings(t.size(), 2, 100);
  const vector<double> x0{1.0, 0.0};
  const auto analytic = levenberg_marquardt(p, exponential_fit(t, y), exponential_jacobian(t))(x0);
  const auto differenced = levenberg_marquardt(p, exponential_fit(t, y))(x0);
  for (const auto* out : {&analytic, &differenced}) {
    EXPECT_TRUE(out->converged()) << to_string(out->termination);
    EXPECT_LT(out->residual_norm(), 1e-12);  // zero-residual problem: quadratic convergence to rounding
    EXPECT_NEAR(out->solution[0], 2.0, 1e-12);
    EXPECT_NEAR(out->solution[1], -0.7, 1e-12);
  }
}

TEST(levenberg_marquardt, noisy_linear_fit_reaches_the_normal_equations_optimum) {
  // A quadratic through 25 noisy points is a linear least-squares problem: the optimum
  // solves the 3 x 3 normal equations, here by Gaussian elimination with pivoting.
  std::vector<double> t, y;
  for (int i = 0; i < 25; ++i) {
    t.push_back(-1.0 + 0.1 * i);
    y.push_back(0.5 - 1.5 * t.back() + 2.0 * t.back() * t.back() + 0.05 * std::sin(7.3 * i));
  }
  double a[3][4] = {};
  for (std::size_t i = 0; i < t.size(); ++i) {
    const double basis[3] = {1.0, t[i], t[i] * t[i]};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) a[r][c] += basis[r] * basis[c];
      a[r][3] += basis[r] * y[i];
    }
  }
  for (int k = 0; k < 3; ++k) {
    int pivot = k;
    for (int r = k + 1; r < 3; ++r)
      if (std::fabs(a[r][k]) > std::fabs(a[pivot][k])) pivot = r;
    for (int c = 0; c < 4; ++c) std::swap(a[k][c], a[pivot][c]);
    for (int r = 0; r < 3; ++r)
      if (r != k) {
        const double f = a[r][k] / a[k][k];
        for (int c = 0; c < 4; ++c) a[r][c] -= f * a[k][c];
      }
  }
  const double expected[3] = {a[0][3] / a[0][0], a[1][3] / a[1][1], a[2][3] / a[2][2]};

  const residual_function residuals = [&](const vector<double>& x, vector<double>& r) {
    for (std::size_t i = 0; i < t.size(); ++i) r[i] = x[0] + x[1] * t[i] + x[2] * t[i] * t[i] - y[i];
  };
  const auto out = levenberg_marquardt(settings(t.size(), 3, 100, 1e-10), residuals)(vector<double>{5.0, 5.0, -5.0});
  EXPECT_TRUE(out.converged()) << to_string(out.termination);
  EXPECT_GT(out.cost, 1e-3);  // the noise is not fitted away
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(out.solution[k], expected[k], 1e-7) << k;
}

TEST(levenberg_marquardt, iteration_cap_is_respected) {
  recorder residuals;
  const auto out = levenberg_marquardt(settings(2, 2, 3), residuals.wrap(rosenbrock),
                                       rosenbrock_jacobian)(vector<double>{-1.2, 1.0});
  EXPECT_EQ(out.termination, optimization_termination::iteration_limit);
  EXPECT_FALSE(out.converged());
  EXPECT_EQ(out.iterations, 3u);
  EXPECT_LE(out.residual_evaluations, 5u);  // start, three trials, at most one re-evaluation
  EXPECT_LT(out.cost, out.initial_cost);
  EXPECT_EQ(residuals.last, (std::vector<double>{out.solution[0], out.solution[1]}));

  // Zero iterations: the starting point, one residual call, no Jacobian.
  const auto none = levenberg_marquardt(settings(2, 2, 0), rosenbrock)(vector<double>{-1.2, 1.0});
  EXPECT_EQ(none.termination, optimization_termination::iteration_limit);
  EXPECT_EQ(none.solution, (vector<double>{-1.2, 1.0}));
  EXPECT_EQ(none.residual_evaluations, 1u);
  EXPECT_EQ(none.jacobian_evaluations, 0u);
  EXPECT_EQ(none.cost, none.initial_cost);
}

TEST(levenberg_marquardt, survives_undefined_residuals_and_rank_deficient_jacobians) {
  // r = log x - log 5 from x = 100: the Gauss-Newton step lands at x < 0 where the
  // residual is NaN; rejected steps raise the damping until a step stays inside.
  const residual_function logarithm = [](const vector<double>& x, vector<double>& r) {
    r[0] = std::log(x[0]) - std::log(5.0);
  };
  const auto out = levenberg_marquardt(settings(1, 1, 100), logarithm)(vector<double>{100.0});
  EXPECT_TRUE(out.converged()) << to_string(out.termination);
  EXPECT_NEAR(out.solution[0], 5.0, 1e-10);

  // One equation, two unknowns: J^T J is singular, the damped system is not.
  const residual_function line = [](const vector<double>& x, vector<double>& r) { r[0] = x[0] + 2.0 * x[1] - 2.0; };
  const auto under = levenberg_marquardt(settings(1, 2, 100), line)(vector<double>{3.0, -4.0});
  EXPECT_TRUE(under.converged()) << to_string(under.termination);
  EXPECT_LT(under.residual_norm(), 1e-10);

  // Residuals that are NaN at the start are reported, not iterated on.
  const residual_function nan = [](const vector<double>&, vector<double>& r) {
    r[0] = std::numeric_limits<double>::quiet_NaN();
  };
  const auto bad = levenberg_marquardt(settings(1, 1, 10), nan)(vector<double>{1.0});
  EXPECT_EQ(bad.termination, optimization_termination::non_finite_residuals);
  EXPECT_EQ(bad.residual_evaluations, 1u);
}

TEST(levenberg_marquardt, inconsistent_sizes_and_settings_are_refused) {
  EXPECT_EQ(error_text([] { levenberg_marquardt(settings(2, 2, 10), rosenbrock)(vector<double>{1.0}); }),
            "Expected x0.size() == parameters_.number_of_unknowns to be true, but got false.  starting point has 1 "
            "entries for 2 unknowns");
  const residual_function short_residuals = [](const vector<double>&, vector<double>& r) { r = vector<double>(1); };
  EXPECT_EQ(error_text([&] { levenberg_marquardt(settings(2, 2, 10), short_residuals)(vector<double>{1.0, 2.0}); }),
            "Expected r.size() == m_ to be true, but got false.  residual function wrote 1 residuals, expected 2");
  lm_parameters p = settings(2, 2, 10);
  p.good_step_ratio = 0.0;
  EXPECT_EQ(error_text([&] { (void)levenberg_marquardt(p, rosenbrock); }),
            "Expected p.acceptance_ratio >= 0.0 && p.acceptance_ratio < p.good_step_ratio && p.good_step_ratio < "
            "1.0 to be true, but got false.  acceptance_ratio 0 good_step_ratio 0");
  p = settings(2, 2, -1);
  EXPECT_EQ(error_text([&] { (void)levenberg_marquardt(p, rosenbrock); }),
            "Expected p.max_iterations >= 0 to be true, but got false.  max_iterations -1");
}

TEST(optimization_algorithm_output, report_names_the_reason_counts_and_solution) {
  const auto out = levenberg_marquardt(settings(2, 2, 200), rosenbrock, rosenbrock_jacobian)(vector<double>{-1.2, 1.0});
  std::ostringstream text;
  out.print(text);
  const std::string report = text.str();
  EXPECT_EQ(report.rfind(std::string("Levenberg-Marquardt: ") + to_string(out.termination) + "\n", 0), 0u) << report;
  EXPECT_NE(report.find("  iterations           : " + std::to_string(out.iterations) + "\n"), std::string::npos);
  EXPECT_NE(report.find("  solution             :  1.0000000000e+00  1.0000000000e+00\n"), std::string::npos)
      << report;

  // print() sends the same lines to the logger at verbosity 0.
  static std::vector<std::string> logged;
  logged.clear();
  logger::SetSink([](int, const std::string& line) { logged.push_back(line); });
  const int cutoff = logger::GetCurrentVerbosityCutoff();
  out.print();
  logger::SetVerbosityCutoff(-1);
  out.print();
  logger::SetVerbosityCutoff(cutoff);
  logger::SetSink(nullptr);
  ASSERT_EQ(logged.size(), 8u);
  EXPECT_NE(logged[0].find("Levenberg-Marquardt: "), std::string::npos);
  EXPECT_EQ(logged[0].rfind("[0] ", 0), 0u) << logged[0];
}

}  // namespace
}  // namespace tarvex
