#include <gtest/gtest.h>

#include <cmath>

#include "Math/discretization.h"
#include "Math/gaussian_quadrature.h"
#include "Math/normal_distribution.h"

namespace tarvex {
namespace {

constexpr double eps = 2.220446049250313e-16;

vector<double> roots, weights;

void rule(std::size_t n, bool physicists = false) {
  gaussian_quadrature::gauss_hermite_coefficients(n, roots, weights, physicists, eps, 20);
}

// E[Z^k] of a standard normal: (k-1)!! for even k, 0 for odd k.
double normal_moment(int k) {
  if (k % 2) return 0.0;
  double m = 1.0;
  for (int j = k - 1; j > 0; j -= 2) m *= j;
  return m;
}

TEST(gaussian_quadrature, hermite_rules_integrate_polynomials_to_degree_2n_minus_1) {
  for (std::size_t n : {1u, 2u, 3u, 5u, 8u, 13u, 20u}) {
    rule(n);
    for (int k = 0; k <= int(2 * n - 1); ++k) {
      double sum = 0.0, scale = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        sum += weights[i] * std::pow(roots[i], k);
        scale += weights[i] * std::fabs(std::pow(roots[i], k));
      }
      EXPECT_NEAR(sum, normal_moment(k), 64 * eps * scale) << "n " << n << ", degree " << k;
    }
    // Degree 2n is where exactness ends: its error is n! (n >= 1), far from rounding.
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += weights[i] * std::pow(roots[i], 2 * int(n));
    EXPECT_NEAR(normal_moment(2 * int(n)) - sum, std::tgamma(double(n) + 1), 1e-9 * normal_moment(2 * int(n)));
  }
}

TEST(gaussian_quadrature, forty_nodes_give_the_normal_moment_generating_function) {
  rule(40);
  for (double a = -3.0; a <= 3.0; a += 0.25) {
    double sum = 0.0;
    for (std::size_t i = 0; i < 40; ++i) sum += weights[i] * std::exp(a * roots[i]);
    EXPECT_NEAR(sum / std::exp(0.5 * a * a), 1.0, 1e-13) << "a " << a;
  }
}

TEST(gaussian_quadrature, rules_are_symmetric_sorted_and_normalised_up_to_order_100) {
  for (std::size_t n : {1u, 2u, 7u, 40u, 64u, 99u, 100u, 150u}) {
    for (bool physicists : {false, true}) {
      rule(n, physicists);
      double sum = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(roots[i], -roots[n - 1 - i]) << n;
        EXPECT_EQ(weights[i], weights[n - 1 - i]) << n;
        EXPECT_GT(weights[i], 0.0) << n;
        if (i > 0) {
          EXPECT_LT(roots[i - 1], roots[i]) << n;
        }
        sum += weights[i];
      }
      EXPECT_NEAR(sum, physicists ? std::sqrt(M_PI) : 1.0, 8 * n * eps) << n;
    }
    rule(n);
    // Every node is a root of He_n to the last bits: the recurrence of the
    // probabilists' polynomials, independent of the orthonormal one used inside.
    for (std::size_t i = 0; i < n && n <= 40; ++i) {
      double p0 = 1.0, p1 = roots[i], dp = 1.0, dp0 = 0.0;
      for (std::size_t k = 1; k < n; ++k) {
        const double p2 = roots[i] * p1 - double(k) * p0, dp2 = p1 + roots[i] * dp - double(k) * dp0;
        p0 = p1;
        p1 = p2;
        dp0 = dp;
        dp = dp2;
      }
      if (n == 1) p1 = roots[i];
      EXPECT_LE(std::fabs(p1 / dp), 8 * eps * std::max(1.0, std::fabs(roots[i]))) << n << " " << i;
    }
  }
  // Known values: n = 2 gives +-1 with weights 1/2; n = 3 gives 0, +-sqrt(3), 2/3 and 1/6.
  rule(2);
  EXPECT_NEAR(roots[1], 1.0, 2 * eps);
  EXPECT_NEAR(weights[0], 0.5, 2 * eps);
  rule(3);
  EXPECT_EQ(roots[1], 0.0);
  EXPECT_NEAR(roots[2], std::sqrt(3.0), 4 * eps);
  EXPECT_NEAR(weights[1], 2.0 / 3.0, 4 * eps);
}

TEST(discretization, uniform_grids_are_exact_at_both_ends_symmetric_and_hold_the_centre) {
  vector<double> g;
  discretization::uniform(g, 101, -2.7, 2.7, 0.0);
  ASSERT_EQ(g.size(), 101u);
  EXPECT_EQ(g[0], -2.7);
  EXPECT_EQ(g[100], 2.7);
  EXPECT_EQ(g[50], 0.0);
  for (std::size_t j = 0; j < 101; ++j) {
    EXPECT_EQ(g[j], -g[100 - j]);
    EXPECT_NEAR(g[j], -2.7 + 0.054 * double(j), 1e-15);
  }
  discretization::uniform(g, 4, 1.0, 2.5, 0.0);
  EXPECT_EQ(g[1], 1.5);
  EXPECT_EQ(g[2], 2.0);
}

}  // namespace

namespace {

struct kronrod_rule {
  vector<double> nodes, weights, gauss;
  explicit kronrod_rule(std::size_t m) : nodes(m + 1), weights(2 * m + 1), gauss(m + 1) {
    gaussian_quadrature::gauss_kronrod(m, nodes, weights, gauss, 1e-14, 20);
  }
  // sum over the symmetric rule of w f(x), with Kronrod or embedded Gauss weights
  template <class F>
  double apply(const F& f, bool use_gauss = false) const {
    double s = 0.0;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      const double w = use_gauss ? gauss[k] : weights[k];
      s += w * (nodes[k] == 0.0 ? f(0.0) : f(nodes[k]) + f(-nodes[k]));
    }
    return s;
  }
};

TEST(gaussian_quadrature, kronrod_rules_match_published_quadpack_constants) {
  // QUADPACK dqk15 / dqk31: largest node and its weight.
  const struct {
    std::size_t m;
    double node, weight;
  } cases[] = {{7, 0.991455371120812639206854697526329, 0.022935322010529224963732008058970},
               {15, 0.998002298693397060285172840152271, 0.005377479872923348987792051430128}};
  for (const auto& c : cases) {
    kronrod_rule r(c.m);
    EXPECT_NEAR(r.nodes[0], c.node, 2e-15) << c.m;
    EXPECT_NEAR(r.weights[0], c.weight, 2e-15) << c.m;
    EXPECT_EQ(r.gauss[0], 0.0) << c.m;  // the outermost node is a Kronrod node
  }
}

TEST(gaussian_quadrature, sixteen_and_twenty_five_point_rules_are_exact_to_their_degree) {
  for (std::size_t m : {15u, 24u}) {
    kronrod_rule r(m);
    ASSERT_EQ(r.nodes[m], 0.0) << m;
    // Kronrod: degree 3m + 1; embedded Gauss: degree 2m - 1. Odd powers vanish by symmetry,
    // so the even powers up to the degree are the test; a shifted power mixes all of them.
    for (std::size_t d = 0; d <= 3 * m + 1; d += 2)
      EXPECT_NEAR(r.apply([d](double x) { return std::pow(x, d); }), 2.0 / (d + 1), 4e-15) << m << " " << d;
    for (std::size_t d = 0; d <= 2 * m - 1; d += 2)
      EXPECT_NEAR(r.apply([d](double x) { return std::pow(x, d); }, true), 2.0 / (d + 1), 4e-15) << m << " " << d;
    const double deg = 3.0 * m + 1;  // int_{-1}^{1} ((1 + x)/2)^deg dx = 2/(deg + 1)
    EXPECT_NEAR(r.apply([deg](double x) { return std::pow(0.5 * (1 + x), deg); }), 2.0 / (deg + 1), 1e-14) << m;
  }
}

TEST(normal_distribution, density_closed_form_and_scaling) {
  EXPECT_DOUBLE_EQ(normal_distribution::density(0.0), 1.0 / std::sqrt(2 * M_PI));
  EXPECT_DOUBLE_EQ(normal_distribution::density(1.5), std::exp(-1.125) / std::sqrt(2 * M_PI));
  EXPECT_DOUBLE_EQ(normal_distribution::density(-2.0), normal_distribution::density(2.0));
  EXPECT_DOUBLE_EQ(normal_distribution::density(3.0, 1.0, 2.0), normal_distribution::density(1.0) / 2.0);
  EXPECT_EQ(normal_distribution::density(40.0), 0.0);
}

}  // namespace

}  // namespace tarvex
