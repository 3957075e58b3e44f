#include <gtest/gtest.h>

#include <cmath>

#include "Math/gaussian_quadrature.h"
#include "Math/normal_distribution.h"

namespace tarvex {
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
