#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Core/tests/testing.h"
#include "Math/root_finding_algorithms.h"

namespace tarvex {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

// Counts calls and remembers the last argument.
struct counted {
  std::function<double(double)> g;
  int calls = 0;
  double last = std::numeric_limits<double>::quiet_NaN();
  std::function<double(double)> f() {
    return [this](double x) {
      ++calls;
      last = x;
      return g(x);
    };
  }
};

TEST(root_finding_algorithms, brent_finds_known_roots_fast_and_ends_on_the_root) {
  struct known {
    std::function<double(double)> g;
    double low, high, root;
  };
  const known cases[] = {
      {[](double x) { return std::cos(x) - x; }, 0.0, 1.0, 0.7390851332151607},  // Dottie number
      {[](double x) { return x * x * x - 2.0 * x - 5.0; }, 2.0, 3.0, 2.0945514815423265},  // Wallis
      {[](double x) { return std::exp(x) - 10.0; }, 5.0, -5.0, std::log(10.0)},  // bracket given high to low
      {[](double x) { return std::sin(x - 3e-10); }, -1.0, 1.0, 3e-10},  // near zero: relative accuracy
  };
  for (const auto& k : cases) {
    counted c{k.g};
    double root = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(root_finding_algorithms::brent(c.f(), k.low, k.high, root, 0.0, 0.0, eps, 100)) << k.root;
    EXPECT_NEAR(root, k.root, 4 * eps * std::fabs(k.root)) << k.root;
    EXPECT_EQ(c.last, root) << k.root;  // the last call was made at the root
    // Superlinear steps: bisection alone would need about 52 calls.
    EXPECT_LE(c.calls, 20) << k.root;
  }
}

TEST(root_finding_algorithms, brent_stops_on_the_function_tolerance_and_keeps_the_bracket_guarantee) {
  counted smooth{[](double x) { return x * x - 2.0; }};
  double root = 0.0;
  ASSERT_TRUE(root_finding_algorithms::brent(smooth.f(), 0.0, 2.0, root, 0.0, 1e-3, eps, 50));
  EXPECT_LE(std::fabs(root * root - 2.0), 1e-3);
  EXPECT_EQ(smooth.last, root);

  // A jump has no root, but the bracket still closes on it within the double spacing.
  counted step{[](double x) { return x < 0.3 ? -1.0 : 1.0; }};
  ASSERT_TRUE(root_finding_algorithms::brent(step.f(), 0.0, 1.0, root, 0.0, 0.0, eps, 200));
  EXPECT_NEAR(root, 0.3, 4 * eps);
  EXPECT_EQ(step.last, root);
  EXPECT_LE(step.calls, 2 + 2 * 64);  // never much worse than bisection

  // An end point that is already a root is returned as it is.
  ASSERT_TRUE(root_finding_algorithms::brent([](double x) { return x - 1.0; }, 1.0, 4.0, root, 0.0, 0.0, eps, 10));
  EXPECT_EQ(root, 1.0);
}

TEST(root_finding_algorithms, brent_reports_a_missing_bracket_and_an_exhausted_budget) {
  double root = 42.0;
  EXPECT_FALSE(root_finding_algorithms::brent([](double x) { return x * x + 1.0; }, -1.0, 1.0, root, 0.0, 0.0, eps, 50));
  EXPECT_EQ(root, 42.0);  // untouched
  EXPECT_FALSE(root_finding_algorithms::brent([](double) { return std::nan(""); }, 0.0, 1.0, root, 0.0, 0.0, eps, 50));
  EXPECT_EQ(root, 42.0);

  counted slow{[](double x) { return std::cos(x) - x; }};
  EXPECT_FALSE(root_finding_algorithms::brent(slow.f(), 0.0, 1.0, root, 0.0, 0.0, eps, 2));
  EXPECT_LE(slow.calls, 2 + 2 + 1);  // end points, the budget, one call back at the best point
  EXPECT_EQ(slow.last, root);
  EXPECT_GT(root, 0.0);
  EXPECT_LT(root, 1.0);

  EXPECT_EQ(testing::error_text([&] {
              root_finding_algorithms::brent([](double x) { return x; }, -1.0, 1.0, root, 0.0, 0.0, eps, -1);
            }),
            "Expected max_iterations >= 0 && x_tolerance >= 0.0 && f_tolerance >= 0.0 && relative_tolerance >= 0.0 "
            "to be true, but got false.  max_iterations -1 x_tolerance 0 f_tolerance 0 relative_tolerance "
            "2.220446049250313e-16");
}

}  // namespace
}  // namespace tarvex
