#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "Random/counter_based_bijection.h"
#include "Random/details/kernels.h"
#include "Random/inverse_cumulative_normal.h"
#include "Random/tests/random_test_support.h"

namespace tarvex {
namespace {

using testing::at;
using testing::per_step_draws;
using testing::settings_of;
using testing::uniform_of;

// Published known-answer vectors of Random123 (kat_vectors).
TEST(counter_based_bijection, philox4x32_10_matches_known_answers) {
  using c4 = std::array<std::uint32_t, 4>;
  using k2 = std::array<std::uint32_t, 2>;
  EXPECT_EQ(philox4x32_10(c4{0, 0, 0, 0}, k2{0, 0}), (c4{0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}));
  EXPECT_EQ(philox4x32_10(c4{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff}, k2{0xffffffff, 0xffffffff}),
            (c4{0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}));
  EXPECT_EQ(philox4x32_10(c4{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}, k2{0xa4093822, 0x299f31d0}),
            (c4{0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}));
}

TEST(counter_based_bijection, threefry4x64_20_matches_known_answers) {
  using c4 = std::array<std::uint64_t, 4>;
  constexpr std::uint64_t ones = ~std::uint64_t{0};
  EXPECT_EQ(threefry4x64_20(c4{0, 0, 0, 0}, c4{0, 0, 0, 0}),
            (c4{0x09218ebde6c85537, 0x55941f5266d86105, 0x4bd25e16282434dc, 0xee29ec846bd2e40b}));
  EXPECT_EQ(threefry4x64_20(c4{ones, ones, ones, ones}, c4{ones, ones, ones, ones}),
            (c4{0x29c24097942bba1b, 0x0371bbfb0f6f4e11, 0x3c231ffa33f83a1c, 0xcd29113fde32d168}));
  EXPECT_EQ(threefry4x64_20(c4{0x243f6a8885a308d3, 0x13198a2e03707344, 0xa4093822299f31d0, 0x082efa98ec4e6c89},
                            c4{0x452821e638d01377, 0xbe5466cf34e90c6c, 0xbe5466cf34e90c6c, 0xc0ac29b7c97c50dd}),
            (c4{0xa7e8fde591651bd9, 0xbaafd0c30138319b, 0x84a5c1a729e685b9, 0x901d406ccebc1ba4}));
}

// Reference draws from the scalar bijections, by the documented layouts.
double philox_reference(std::uint64_t seed, std::uint64_t g, std::uint32_t step, std::uint32_t factor) {
  const std::uint64_t pair = g / 2;
  const auto w = philox4x32_10({std::uint32_t(pair), std::uint32_t(pair >> 32), step, factor},
                               {std::uint32_t(seed), std::uint32_t(seed >> 32)});
  const std::size_t h = 2 * (g % 2);
  return uniform_of(std::uint64_t{w[h + 1]} << 32 | w[h]);
}

double threefry_reference(std::uint64_t seed, std::uint64_t g, std::uint64_t step, std::uint64_t factor) {
  return uniform_of(threefry4x64_20({g / 4, step, factor, 0}, {seed, 0, 0, 0})[g % 4]);
}

// The block kernels of every instruction set against the scalar bijections, from odd
// and unaligned first paths, on counts that leave partial blocks, and on paths past
// 2^33 (the high counter word).
TEST(counter_based_bijection, block_kernels_of_every_level_equal_the_bijection) {
  const std::uint64_t seed = 0x0123456789abcdefULL;
  for (auto level : {simd_level::scalar, simd_level::avx2, simd_level::avx512}) {
    if (!simd_level_supported(level)) continue;
    const auto& k = random_details::kernels(level);
    for (std::uint64_t path0 : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{0x1fffffff1},
                                std::uint64_t{1} << 40}) {
      for (std::size_t n : {1, 2, 63, 64, 65, 200, 600}) {
        std::vector<double> a(n), t(n), na(n), nt(n);
        k.philox(seed, path0, 7, 3, n, a.data());
        k.threefry(seed, path0, 7, 3, n, t.data());
        k.philox_normals(seed, path0, 7, 3, n, na.data());
        k.threefry_normals(seed, path0, 7, 3, n, nt.data());
        for (std::size_t i = 0; i < n; ++i) {
          const double ua = philox_reference(seed, path0 + i, 7, 3), ut = threefry_reference(seed, path0 + i, 7, 3);
          ASSERT_EQ(a[i], ua) << int(level) << " " << path0 << " " << n << " " << i;
          ASSERT_EQ(t[i], ut) << int(level) << " " << path0 << " " << n << " " << i;
          // Fused generation and inversion equals the two passes on the baseline level.
          double xa = 0.0, xt = 0.0;
          inverse_cumulative_normal(simd_level::scalar, &ua, &xa, 1);
          inverse_cumulative_normal(simd_level::scalar, &ut, &xt, 1);
          ASSERT_EQ(na[i], xa) << int(level) << " " << path0 << " " << n << " " << i;
          ASSERT_EQ(nt[i], xt) << int(level) << " " << path0 << " " << n << " " << i;
        }
      }
    }
  }
}

// The generators: factor f of global path g at step k, transformed by AS241.
TEST(counter_based_bijection, generators_follow_the_documented_counter_layout) {
  const std::uint64_t seed = 99, paths = 21, batch = (std::uint64_t{1} << 33) / 21;  // paths past 2^33
  const std::size_t steps = 3, factors = 5;
  const auto philox = per_step_draws(random_type::philox, settings_of(seed, paths, 2, factors, batch), steps);
  const auto threefry = per_step_draws(random_type::threefry, settings_of(seed, paths, 2, factors, batch), steps);
  for (std::size_t k = 0; k < steps; ++k)
    for (std::size_t f = 0; f < factors; ++f)
      for (std::size_t p = 0; p < paths; ++p) {
        const std::uint64_t g = batch * paths + p;
        ASSERT_EQ(at(philox, paths, factors, k, f, p),
                  inverse_cumulative_normal(philox_reference(seed, g, std::uint32_t(k + 1), std::uint32_t(f))))
            << k << " " << f << " " << p;
        ASSERT_EQ(at(threefry, paths, factors, k, f, p), inverse_cumulative_normal(threefry_reference(seed, g, k + 1, f)))
            << k << " " << f << " " << p;
      }
}

}  // namespace
}  // namespace tarvex
