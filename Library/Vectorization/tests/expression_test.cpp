#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "Core/cpu_allocator.h"
#include "Core/error.h"
#include "Vectorization/matrix.h"
#include "Vectorization/tensor.h"
#include "Vectorization/vector.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;

vector<double> random_vector(std::size_t n, double lo, double hi, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

// Block boundaries (256) and SIMD tails are where an evaluator goes wrong.
const std::size_t sizes[] = {1, 7, 255, 256, 257, 1000};

TEST(expression_test, arithmetic_matches_scalar_loop) {
  for (std::size_t n : sizes) {
    const vector<double> a = random_vector(n, -2, 2, 1);
    const vector<double> b = random_vector(n, 0.5, 3, 2);
    vector<double> out(n);
    out = (a + b) * 2.0 - a / b + (-a) * (1.0 / b) - 3.0 + max(a, 0.0) - min(a, b) + sqrt(b) * abs(a);
    for (std::size_t i = 0; i < n; ++i) {
      const double ref = (a[i] + b[i]) * 2.0 - a[i] / b[i] + (-a[i]) * (1.0 / b[i]) - 3.0 + std::max(a[i], 0.0) -
                         std::min(a[i], b[i]) + std::sqrt(b[i]) * std::fabs(a[i]);
      ASSERT_EQ(out[i], ref) << "n=" << n << " i=" << i;
    }
    out = 2.0 - a;  // scalar on the left of a non-commutative operator
    EXPECT_EQ(out[n - 1], 2.0 - a[n - 1]);
    out = 1.0 / b;
    EXPECT_EQ(out[n - 1], 1.0 / b[n - 1]);
  }
}

TEST(expression_test, transcendental_nodes_use_the_kernels) {
  for (std::size_t n : sizes) {
    const vector<double> a = random_vector(n, -5, 5, 3);
    vector<double> e(n), m(n), l(n), ref(n);
    e = exp(a);
    m = expm1(a * 0.001);
    l = log(exp(a) + 1.0);
    vexp(a.data(), ref.data(), n);
    EXPECT_EQ(e, ref);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_NEAR(m[i], std::expm1(a[i] * 0.001), 4.5e-16 * std::fabs(m[i]));
      // The kernel result fed on through the next node: glibc log of the same sum.
      ASSERT_NEAR(l[i], std::log(e[i] + 1.0), 4.5e-16 * l[i]);
    }
  }
}

TEST(expression_test, destination_may_appear_in_the_expression) {
  for (std::size_t n : sizes) {
    vector<double> x = random_vector(n, -1, 1, 4);
    const vector<double> y = random_vector(n, -1, 1, 5);
    const vector<double> x0 = x;
    x = x * 2.0 + y;
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(x[i], x0[i] * 2.0 + y[i]);
    // The destination read after a node that already produced values for this block.
    x = exp(y) + x;
    vector<double> ey(n);
    vexp(y.data(), ey.data(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(x[i], ey[i] + (x0[i] * 2.0 + y[i])) << i;
  }
}

TEST(expression_test, compound_assignment) {
  for (std::size_t n : sizes) {
    const vector<double> a = random_vector(n, -1, 1, 6);
    vector<double> x = random_vector(n, 1, 2, 7);
    const vector<double> x0 = x;
    x += a * 3.0;
    x -= a;
    x *= x;  // aliasing through a compound operator
    x /= 2.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double t = (x0[i] + a[i] * 3.0) - a[i];
      ASSERT_EQ(x[i], t * t / 2.0);
    }
  }
}

TEST(expression_test, matrix_and_tensor_are_element_wise) {
  const matrix<double> a{{1, 2}, {3, 4}};
  const matrix<double> b{{5, 6}, {7, 8}};
  matrix<double> c(2, 2);
  c = a * b;  // not a matrix product: that would give 19 22 43 50
  EXPECT_EQ(c, (matrix<double>{{5, 12}, {21, 32}}));
  c.row(1) = c.row(0) + c.row(1);  // row views are vector operands
  EXPECT_EQ(c(1, 1), 44.0);
  tensor<double> t({2, 2, 2}), u({2, 2, 2});
  t.fill(3);
  u = t * t + 1.0;
  EXPECT_EQ(u(1, 1, 1), 10.0);
  EXPECT_DOUBLE_EQ(sum(u), 80.0);
}

TEST(expression_test, size_mismatch_is_reported) {
  const vector<double> a(3), b(4);
  vector<double> d(3);
  const auto text = [](int expression, int destination) {
    return "Expected expr.size() == rhs.size() to be true, but got false.  expression has diferrent size " +
           std::to_string(expression) + " than destination " + std::to_string(destination);
  };
  EXPECT_EQ(error_text([&] { d = a + b; }), text(4, 3));
  EXPECT_EQ(error_text([&] { d = exp(b); }), text(4, 3));  // only the destination differs
  EXPECT_EQ(error_text([&] { d += b; }), text(4, 3));
  EXPECT_EQ(error_text([&] { (void)dot(a, b); }), text(4, 3));
  matrix<double> m(2, 3);
  EXPECT_EQ(error_text([&] { m = matrix<double>(3, 3) * 2.0; }), text(9, 6));
}

TEST(expression_test, evaluation_allocates_nothing) {
  const std::size_t n = 1000;
  const vector<double> a = random_vector(n, -1, 1, 8);
  const vector<double> b = random_vector(n, 1, 2, 9);
  vector<double> d(n);
  matrix<double> m(10, 100, 1.0);
  const auto before = cpu_allocator::allocation_count();
  d = exp(a) * b + log(b) - expm1(a) / 2.0;
  d += sqrt(b);
  d *= 2.0;
  m = m * 3.0 + m;
  const double s = sum(d) + dot(a, b);
  EXPECT_EQ(cpu_allocator::allocation_count(), before);
  EXPECT_TRUE(std::isfinite(s));
}

TEST(expression_test, sum_and_dot) {
  for (std::size_t n : sizes) {
    const vector<double> a = random_vector(n, -1, 1, 10);
    const vector<double> b = random_vector(n, -1, 1, 11);
    long double s = 0, d = 0;
    for (std::size_t i = 0; i < n; ++i) {
      s += a[i];
      d += static_cast<long double>(a[i]) * b[i];
    }
    EXPECT_NEAR(sum(a), static_cast<double>(s), 1e-15 * n);
    EXPECT_NEAR(dot(a, b), static_cast<double>(d), 1e-15 * n);
  }
  EXPECT_EQ(sum(vector<double>()), 0.0);
}

}  // namespace
}  // namespace tarvex
