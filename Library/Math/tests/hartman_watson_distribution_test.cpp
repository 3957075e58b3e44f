#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "Math/gaussian_quadrature.h"
#include "Math/hartman_watson_distribution.h"

namespace tarvex {
namespace {

struct rules {
  vector<double> n16 = vector<double>(16), w31 = vector<double>(31), n25 = vector<double>(25), w49 = vector<double>(49);
  rules() {
    vector<double> scratch16(16), scratch25(25);
    gaussian_quadrature::gauss_kronrod(15, n16, w31, scratch16, 1e-14, 20);
    gaussian_quadrature::gauss_kronrod(24, n25, w49, scratch25, 1e-14, 20);
    for (std::size_t k = 0; k < 15; ++k) w31[30 - k] = w31[k];
    for (std::size_t k = 0; k < 24; ++k) w49[48 - k] = w49[k];
  }
};

// E[A_t^k], k = 0, 1, 2, for A_t = int_0^t e^{2W} ds, by the trapezoid rule over (W_t, log A_t):
// the density is smooth and decays like a Gaussian in both, so the rule converges geometrically.
std::array<double, 3> moments(double t, const rules& r) {
  const int na = 61, nz = 121;
  const double half_a = 9.0 * std::sqrt(t), da = 2 * half_a / (na - 1);
  std::array<double, 3> m{0, 0, 0};
  for (int i = 0; i < na; ++i) {
    const double a = -half_a + i * da;
    const double centre = std::log(t) + (a == 0.0 ? 0.0 : std::log(std::expm1(2 * a) / (2 * a)));
    const double half_z = 3.0 + 14.0 * std::sqrt(t), dz = 2 * half_z / (nz - 1);
    vector<double> pa(nz), pb(nz);
    for (int j = 0; j < nz; ++j) {
      pa[j] = a;
      pb[j] = std::exp(centre - half_z + j * dz);
    }
    hartman_watson_distribution::cheyette_density(pa, pb, t, r.n16, r.w31, r.n25, r.w49);
    for (int j = 0; j < nz; ++j) {
      const double w = da * dz * pb[j] * pa[j];  // db = b dz
      m[0] += w;
      m[1] += w * pb[j];
      m[2] += w * pb[j] * pb[j];
    }
  }
  return m;
}

TEST(hartman_watson_distribution, density_integrates_to_one_with_the_exact_first_two_moments) {
  const rules r;
  // Both evaluations: the conditional-lognormal one below t = 0.5, Yor's integral above.
  for (double t : {0.05, 0.3, 0.5, 1.0}) {
    const auto m = moments(t, r);
    // E[A_t] = (e^{2t} - 1)/2; E[A_t^2] = 2 int_{s<u} e^{8s + 2(u-s)} = e^{2t}(e^{6t}-1)/6 - (e^{8t}-1)/8.
    const double mean = 0.5 * std::expm1(2 * t);
    const double second = std::exp(2 * t) * std::expm1(6 * t) / 6 - std::expm1(8 * t) / 8;
    EXPECT_NEAR(m[0], 1.0, 1e-8) << t;
    EXPECT_NEAR(m[1] / mean, 1.0, 1e-7) << t;
    // Yor's integral: E[A^2] weighs the upper tail, where the cancellation leaves about 1e-5.
    EXPECT_NEAR(m[2] / second, 1.0, t < hartman_watson_distribution::large_time ? 1e-7 : 5e-5) << t;
  }
}

TEST(hartman_watson_distribution, non_positive_integrals_have_zero_density) {
  const rules r;
  vector<double> a{0.1, 0.2}, b{0.0, -1.0};
  hartman_watson_distribution::cheyette_density(a, b, 1.0, r.n16, r.w31, r.n25, r.w49);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(a[1], 0.0);
}

}  // namespace
}  // namespace tarvex
