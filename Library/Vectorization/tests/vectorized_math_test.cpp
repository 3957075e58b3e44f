#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Core/error.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Number of representable doubles between a and b (0 when both are the same NaN class
// or the same infinity). Doubles map monotonically onto integers once the sign-magnitude
// encoding is folded, so the distance is an integer difference.
std::uint64_t ulp_distance(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : ~std::uint64_t{0};
  if (a == b) return 0;  // also +0 == -0
  auto key = [](double x) {
    const std::int64_t i = std::bit_cast<std::int64_t>(x);
    return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
  };
  const std::int64_t ka = key(a), kb = key(b);
  return ka > kb ? static_cast<std::uint64_t>(ka) - static_cast<std::uint64_t>(kb)
                 : static_cast<std::uint64_t>(kb) - static_cast<std::uint64_t>(ka);
}

std::vector<simd_level> supported_levels() {
  std::vector<simd_level> levels;
  for (simd_level l : {simd_level::scalar, simd_level::avx2, simd_level::avx512})
    if (simd_level_supported(l)) levels.push_back(l);
  return levels;
}

const char* name(simd_level l) {
  return l == simd_level::scalar ? "scalar" : l == simd_level::avx2 ? "avx2" : "avx512";
}

using kernel = void (*)(simd_level, const double*, double*, std::size_t);
using reference = double (*)(double);

// Largest ulp distance between the kernel and glibc over `in`. Odd sizes push values
// through the padded tail too.
std::uint64_t max_ulp(kernel f, reference ref, simd_level level, const std::vector<double>& in, double* worst) {
  std::vector<double> out(in.size());
  f(level, in.data(), out.data(), in.size());
  std::uint64_t m = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::uint64_t d = ulp_distance(out[i], ref(in[i]));
    if (d > m) {
      m = d;
      *worst = in[i];
    }
  }
  return m;
}

std::vector<double> uniform(double lo, double hi, std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

// ±10^e for e uniform in [lo, hi]: covers many binades evenly.
std::vector<double> log_spaced(double lo, double hi, std::size_t n, unsigned seed, bool both_signs) {
  std::vector<double> v = uniform(lo, hi, n, seed);
  for (std::size_t i = 0; i < n; ++i) v[i] = (both_signs && i % 2 ? -1.0 : 1.0) * std::pow(10.0, v[i]);
  return v;
}

std::vector<double> concat(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

double std_exp(double x) { return std::exp(x); }
double std_expm1(double x) { return std::expm1(x); }
double std_log(double x) { return std::log(x); }

// Both SLEEF u10 and glibc are within 1 ulp of the true value, so they may differ by up
// to 2 ulp from each other; anything above means a real fault (wrong kernel, bad tail).
constexpr std::uint64_t tolerance = 2;

TEST(vectorized_math_test, exp_accuracy_on_every_level) {
  const std::vector<double> in = concat(
      concat(uniform(-700, 700, 100001, 1), uniform(-745.2, -708, 20001, 2)),  // subnormal results
      concat(log_spaced(-300, 2.8, 20001, 3, true), {0.0, -0.0, 709.78, 710, 1000, -746, -inf, inf}));
  for (simd_level level : supported_levels()) {
    double worst = 0;
    EXPECT_LE(max_ulp(vexp, std_exp, level, in, &worst), tolerance) << name(level) << " at x=" << worst;
    double special[] = {710.0, -1000.0, inf, -inf, std::nan("")};
    vexp(level, special, special, 5);  // in place
    EXPECT_EQ(special[0], inf) << name(level);
    EXPECT_EQ(special[1], 0.0) << name(level);
    EXPECT_EQ(special[2], inf) << name(level);
    EXPECT_EQ(special[3], 0.0) << name(level);
    EXPECT_TRUE(std::isnan(special[4])) << name(level);
  }
}

TEST(vectorized_math_test, expm1_accuracy_on_every_level) {
  // Tiny |x| down to 1e-300 and the 1e-8 region, where exp(x) - 1 loses every digit.
  const std::vector<double> in =
      concat(concat(uniform(-40, 700, 50001, 4), log_spaced(-300, 0, 50001, 5, true)),
             concat(uniform(-3e-8, 3e-8, 10001, 6), {1e-8, -1e-8, 1e-300, -1e-300, 5e-324, 709.7, -inf}));
  for (simd_level level : supported_levels()) {
    double worst = 0;
    EXPECT_LE(max_ulp(vexpm1, std_expm1, level, in, &worst), tolerance) << name(level) << " at x=" << worst;
    double s[] = {0.0, -0.0, 1e-8, -inf, 1000.0};
    vexpm1(level, s, s, 5);
    EXPECT_EQ(s[0], 0.0) << name(level);
    EXPECT_FALSE(std::signbit(s[0])) << name(level);
    EXPECT_TRUE(std::signbit(s[1])) << name(level);  // expm1(-0) = -0
    EXPECT_NEAR(s[2], 1.0000000050000000167e-8, 4e-24) << name(level);
    EXPECT_EQ(s[3], -1.0) << name(level);
    EXPECT_EQ(s[4], inf) << name(level);
  }
}

TEST(vectorized_math_test, log_accuracy_on_every_level) {
  const std::vector<double> in = concat(concat(log_spaced(-300, 300, 100001, 7, false), uniform(0.5, 2, 20001, 8)),
                                        {1.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, inf});
  for (simd_level level : supported_levels()) {
    double worst = 0;
    EXPECT_LE(max_ulp(vlog, std_log, level, in, &worst), tolerance) << name(level) << " at x=" << worst;
    double s[] = {0.0, -0.0, -1.0, 1.0, inf, std::nan("")};
    vlog(level, s, s, 6);
    EXPECT_EQ(s[0], -inf) << name(level);
    EXPECT_EQ(s[1], -inf) << name(level);
    EXPECT_TRUE(std::isnan(s[2])) << name(level);
    EXPECT_EQ(s[3], 0.0) << name(level);
    EXPECT_EQ(s[4], inf) << name(level);
    EXPECT_TRUE(std::isnan(s[5])) << name(level);
  }
}

TEST(vectorized_math_test, result_does_not_depend_on_position) {
  // A value must give the same bits in a full register and in the padded tail.
  const std::vector<double> base = uniform(-20, 20, 64, 9);
  std::vector<double> full(base.size());
  vexp(base.data(), full.data(), base.size());
  for (std::size_t n = 1; n <= 17; ++n) {
    std::vector<double> part(n);
    vexp(base.data(), part.data(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(part[i], full[i]) << "n=" << n << " i=" << i;
  }
}

TEST(vectorized_math_test, levels) {
  EXPECT_TRUE(simd_level_supported(simd_level::scalar));
  EXPECT_TRUE(simd_level_supported(active_simd_level()));
  if (!simd_level_supported(simd_level::avx512)) {
    double x = 1;
    try {
      vexp(simd_level::avx512, &x, &x, 1);
      ADD_FAILURE() << "expected an error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "simd level is not supported by this cpu");
    }
  }
}

TEST(vectorized_math_test, normalcdf_known_values) {
  // Reference values from 50-digit arithmetic.
  const struct {
    double x, p;
  } cases[] = {{0.0, 0.5},
               {1.96, 0.97500210485177956},
               {-1.0, 0.15865525393145705},
               {5.0, 0.99999971334842812},
               {-8.0, 6.2209605742717841e-16},
               {-20.0, 2.7536241186062337e-89},
               {-37.0, 5.7255712225245768e-300}};
  std::vector<double> in, out(std::size(cases));
  for (const auto& c : cases) {
    EXPECT_NEAR(normalcdf(c.x), c.p, 1e-14 * c.p) << "x=" << c.x;
    in.push_back(c.x);
  }
  normalcdf(in.data(), out.data(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], normalcdf(in[i]));
  EXPECT_EQ(normalcdf(-inf), 0.0);
  EXPECT_EQ(normalcdf(inf), 1.0);
  EXPECT_TRUE(std::isnan(normalcdf(std::nan(""))));
}

}  // namespace
}  // namespace tarvex
