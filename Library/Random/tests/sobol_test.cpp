#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "Core/tests/testing.h"
#include "Random/brownian_bridge.h"
#include "Random/inverse_cumulative_normal.h"
#include "Random/random_sobol.h"
#include "Random/sobol_sequence.h"
#include "Random/tests/random_test_support.h"

namespace tarvex {
namespace {

using testing::at;
using testing::error_text;
using testing::settings_of;
using testing::uniform_of;
using testing::upfront_draws;

// First points of Joe and Kuo's sequence, dimensions 1-4, worked out by hand from
// their direction numbers (s, a, m): (-, -, 1...), (1, 0, 1), (2, 1, 1 3), (3, 1, 1 3 1).
TEST(sobol_sequence, first_points_are_the_published_joe_kuo_values) {
  const double expected[8][4] = {{0, 0, 0, 0},
                                 {0.5, 0.5, 0.5, 0.5},
                                 {0.75, 0.25, 0.25, 0.25},
                                 {0.25, 0.75, 0.75, 0.75},
                                 {0.375, 0.375, 0.625, 0.875},
                                 {0.875, 0.875, 0.125, 0.375},
                                 {0.625, 0.125, 0.875, 0.625},
                                 {0.125, 0.625, 0.375, 0.125}};
  const sobol_sequence s(4);
  for (std::uint64_t n = 0; n < 8; ++n)
    for (std::size_t d = 0; d < 4; ++d)
      EXPECT_EQ(static_cast<double>(s.coordinate(d, n)) * 0x1p-64, expected[n][d]) << n << " " << d;
}

// Direction numbers by the integer recurrence on m_j (Bratley-Fox in m form) from the
// first table entries typed in here, against the library's shift-and-xor form.
TEST(sobol_sequence, direction_numbers_follow_the_primitive_polynomial_recurrence) {
  struct entry {
    unsigned s, a;
    std::vector<std::uint64_t> m;
  };
  // Dimensions 2-8 of new-joe-kuo-6.21201.
  const std::vector<entry> table = {{1, 0, {1}},       {2, 1, {1, 3}},     {3, 1, {1, 3, 1}},
                                    {3, 2, {1, 1, 1}}, {4, 1, {1, 1, 3, 3}}, {4, 4, {1, 3, 5, 13}},
                                    {5, 2, {1, 1, 5, 5, 17}}};
  const sobol_sequence seq(8);
  for (unsigned j = 0; j < 64; ++j) EXPECT_EQ(seq.direction(0, j), std::uint64_t{1} << (63 - j));
  for (std::size_t d = 0; d < table.size(); ++d) {
    auto m = table[d].m;
    const unsigned s = table[d].s;
    for (std::size_t j = s; j < 64; ++j) {
      std::uint64_t x = m[j - s] ^ (m[j - s] << s);
      for (unsigned k = 1; k < s; ++k)
        if ((table[d].a >> (s - 1 - k)) & 1u) x ^= m[j - k] << k;
      m.push_back(x);
    }
    for (unsigned j = 0; j < 64; ++j)
      ASSERT_EQ(seq.direction(d + 1, j), m[j] << (63 - j)) << "dimension " << d + 2 << " bit " << j;
  }
  // Gray-code stepping equals the direct formula, from an arbitrary start.
  const sobol_sequence big(sobol_sequence::max_dimension);
  std::vector<std::uint64_t> run(300);
  for (std::size_t d : {std::size_t{0}, std::size_t{17}, sobol_sequence::max_dimension - 1}) {
    big.coordinates(d, 1000003, run.size(), 0, run.data());
    for (std::size_t i = 0; i < run.size(); ++i) ASSERT_EQ(run[i], big.coordinate(d, 1000003 + i)) << d;
  }
  EXPECT_EQ(error_text([] { sobol_sequence(sobol_sequence::max_dimension + 1); }),
            "Expected dimensions > 0 && dimensions <= max_dimension to be true, but got false.  Sobol dimensions "
            "must lie in 1 ... 3667, got 3668");
}

TEST(random_sobol, paths_are_sobol_points_and_batches_are_slices) {
  const std::size_t paths = 2500, factors = 3, dates = 4, steps = dates - 1;
  const sobol_sequence seq(dates * factors);
  const auto whole = upfront_draws(random_type::sobol, settings_of(1, 4 * paths, dates, factors));
  // Path g is point g + 1; dimension (k-1) B + f drives step k, the last B block 0.
  for (std::size_t g : {std::size_t{0}, std::size_t{1}, std::size_t{9999}})
    for (std::size_t k = 0; k < dates; ++k)
      for (std::size_t f = 0; f < factors; ++f) {
        const std::size_t d = k == 0 ? steps * factors + f : (k - 1) * factors + f;
        EXPECT_EQ(at(whole, 4 * paths, factors, k, f, g),
                  inverse_cumulative_normal(uniform_of(seq.coordinate(d, g + 1))));
      }
  for (auto type : {random_type::sobol, random_type::sobol_brownian_bridge}) {
    const auto big = upfront_draws(type, settings_of(1, 4 * paths, dates, factors, 0, random_type::philox, true));
    for (std::size_t b = 0; b < 4; ++b) {
      const auto part = upfront_draws(type, settings_of(1, paths, dates, factors, b, random_type::philox, true));
      for (std::size_t row = 0; row < dates * factors; ++row)
        for (std::size_t p = 0; p < paths; ++p)
          ASSERT_EQ(part[row * paths + p], big[row * 4 * paths + b * paths + p]) << int(type) << " " << b;
    }
  }
}

TEST(random_sobol, digital_shift_and_full_skip_move_the_points_as_documented) {
  const std::size_t paths = 100, factors = 2, dates = 3;
  for (auto source : {random_type::philox, random_type::threefry, random_type::mersenne_twister}) {
    const auto s = settings_of(5, paths, dates, factors, 3, source, true, true);
    const random_sobol g(s, false);
    EXPECT_EQ(g.first_point(), 4u * 128u);  // (b + 1) 2^m with 2^m = 128 >= 100
    const auto draws = upfront_draws(random_type::sobol, s);
    const sobol_sequence seq(dates * factors);
    for (std::size_t p = 0; p < paths; p += 33)
      EXPECT_EQ(at(draws, paths, factors, 1, 1, p),
                inverse_cumulative_normal(uniform_of(seq.coordinate(1, 512 + p) ^ g.shift(1))));
    // The shift belongs to the seed alone; a different source gives a different shift.
    EXPECT_EQ(random_sobol(settings_of(5, 7, dates, factors, 0, source, true), false).shift(4), g.shift(4));
    EXPECT_NE(random_sobol(settings_of(6, 7, dates, factors, 0, source, true), false).shift(4), g.shift(4));
  }
  EXPECT_EQ(error_text([] {
              random::random_generator_factory(random_type::sobol, settings_of(5, 7, 2, 2, 0, random_type::zero, true));
            }),
            "the generator_type behind the Sobol shift must be philox_upfront, philox, mersenne_twister or threefry, "
            "got 0");
  EXPECT_EQ(error_text([] { random::random_generator_factory(random_type::sobol, settings_of(5, 7, 1000, 4)); }),
            "Expected fits to be true, but got false.  Sobol draws need number_of_simulation_dates * "
            "number_of_brownians dimensions, at most 3667: dates 1000, brownians 4");
}

// The bridge is linear, W = A z: its columns give the covariance A A^T, which must be
// Brownian motion's min(s, t) on the unit grid, for n that are and are not powers of 2.
TEST(brownian_bridge, covariance_is_brownian_and_first_normal_fixes_the_end) {
  for (std::size_t n : {1, 2, 7, 8, 12}) {
    const brownian_bridge bridge(n);
    EXPECT_EQ(bridge.bridge_index(0), n - 1);
    std::vector<double> a(n * n);  // a[t * n + i] = W(t + 1) for z = e_i
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<double> z(n, 0.0), inc(n);
      z[i] = 1.0;
      bridge.transform(z.data(), inc.data(), 1);
      double w = 0.0;
      for (std::size_t t = 0; t < n; ++t) a[t * n + i] = (w += inc[t]);
    }
    for (std::size_t s = 0; s < n; ++s)
      for (std::size_t t = 0; t < n; ++t) {
        double c = 0.0;
        for (std::size_t i = 0; i < n; ++i) c += a[s * n + i] * a[t * n + i];
        EXPECT_NEAR(c, double(std::min(s, t) + 1), 1e-12) << n << " " << s << " " << t;
      }
    // W(n) = sqrt(n) z_0: the first normal alone fixes the end point.
    for (std::size_t i = 1; i < n; ++i) EXPECT_NEAR(a[(n - 1) * n + i], 0.0, 1e-14);
  }
}

// In the generator: the sum of factor f's increments is sqrt(D - 1) times the normal
// of dimension f; with quasi-random points the moments converge far faster than 1/sqrt N.
TEST(random_sobol, bridge_puts_the_first_dimensions_on_the_end_points) {
  const std::size_t paths = 4096, factors = 2, dates = 9, steps = dates - 1;
  const auto s = settings_of(1, paths, dates, factors);
  const auto plain = upfront_draws(random_type::sobol, s);
  const auto bridged = upfront_draws(random_type::sobol_brownian_bridge, s);
  for (std::size_t f = 0; f < factors; ++f)
    for (std::size_t p = 0; p < paths; ++p) {
      double end = 0.0;
      for (std::size_t k = 1; k <= steps; ++k) end += at(bridged, paths, factors, k, f, p);
      ASSERT_NEAR(end, std::sqrt(double(steps)) * at(plain, paths, factors, 1, f, p), 1e-12) << f << " " << p;
    }
  for (std::size_t k = 1; k <= steps; ++k)
    for (std::size_t f = 0; f < factors; ++f) {
      double mean = 0.0, square = 0.0;
      for (std::size_t p = 0; p < paths; ++p) {
        const double x = at(bridged, paths, factors, k, f, p);
        mean += x, square += x * x;
      }
      // Monte Carlo would give errors of 4/sqrt(4096) = 0.06; Sobol points do far better.
      EXPECT_LT(std::abs(mean / paths), 0.01) << k << " " << f;
      EXPECT_LT(std::abs(square / paths - 1.0), 0.02) << k << " " << f;
    }
}

}  // namespace
}  // namespace tarvex
