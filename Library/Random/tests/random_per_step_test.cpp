#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "Core/cpu_allocator.h"
#include "Core/tests/testing.h"
#include "Random/inverse_cumulative_normal.h"
#include "Random/random_per_step.h"
#include "Random/tests/random_test_support.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

using testing::at;
using testing::error_text;
using testing::per_step_draws;
using testing::settings_of;
using testing::uniform_of;

TEST(random_per_step, counter_based_batches_are_bit_for_bit_slices_of_one_run) {
  const std::size_t factors = 3, steps = 4, big = 10000, small = 2500;
  for (auto type : {random_type::philox, random_type::threefry}) {
    const auto whole = per_step_draws(type, settings_of(2024, big, 2, factors), steps);
    for (std::size_t b = 0; b < 4; ++b) {
      const auto part = per_step_draws(type, settings_of(2024, small, 2, factors, b), steps);
      for (std::size_t k = 0; k < steps; ++k)
        for (std::size_t f = 0; f < factors; ++f)
          for (std::size_t p = 0; p < small; ++p)
            ASSERT_EQ(at(part, small, factors, k, f, p), at(whole, big, factors, k, f, b * small + p))
                << int(type) << " batch " << b << " step " << k << " factor " << f << " path " << p;
    }
  }
}

TEST(random_per_step, mersenne_twister_streams_follow_the_documented_seeding) {
  const std::uint64_t seed = 0x1234567890ULL, batch = 3, paths = 50, factors = 2;
  const auto draws = per_step_draws(random_type::mersenne_twister, settings_of(seed, paths, 2, factors, batch), 2);
  std::seed_seq seq{std::uint32_t(seed), std::uint32_t(seed >> 32), std::uint32_t(batch), 0u};
  std::mt19937_64 engine(seq);
  for (std::size_t i = 0; i < draws.size(); ++i)
    ASSERT_EQ(draws[i], inverse_cumulative_normal(uniform_of(engine()))) << i;
  // Other batches and seeds are other streams; the same settings the same stream.
  const auto again = per_step_draws(random_type::mersenne_twister, settings_of(seed, paths, 2, factors, batch), 2);
  const auto other_batch = per_step_draws(random_type::mersenne_twister, settings_of(seed, paths, 2, factors, 4), 2);
  const auto other_seed = per_step_draws(random_type::mersenne_twister, settings_of(seed + 1, paths, 2, factors, 3), 2);
  EXPECT_EQ(again, draws);
  EXPECT_NE(other_batch[0], draws[0]);
  EXPECT_NE(other_seed[0], draws[0]);
}

struct moments {
  double mean = 0, variance = 0;
};

moments moments_of(const std::vector<double>& x) {
  moments m;
  for (double v : x) m.mean += v;
  m.mean /= double(x.size());
  for (double v : x) m.variance += (v - m.mean) * (v - m.mean);
  m.variance /= double(x.size() - 1);
  return m;
}

double correlation(const double* a, const double* b, std::size_t n) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sa += a[i], sb += b[i], saa += a[i] * a[i], sbb += b[i] * b[i], sab += a[i] * b[i];
  }
  const double N = double(n);
  return (sab - sa * sb / N) / std::sqrt((saa - sa * sa / N) * (sbb - sb * sb / N));
}

// Kolmogorov-Smirnov distance of the sample to the standard normal.
double ks_distance(std::vector<double> x) {
  std::sort(x.begin(), x.end());
  double d = 0.0;
  const double n = double(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double c = normalcdf(x[i]);
    d = std::max({d, std::abs(c - double(i) / n), std::abs(double(i + 1) / n - c)});
  }
  return d;
}

// Fixed seeds; bounds are 4 standard errors (mean 1/sqrt N, variance sqrt(2/N),
// correlation 1/sqrt n) and the KS 0.1% critical value 1.95 / sqrt N.
TEST(random_per_step, draws_are_standard_normal_and_uncorrelated_across_factors_and_steps) {
  const std::size_t paths = 20000, factors = 3, steps = 3;
  for (auto type : {random_type::philox, random_type::threefry, random_type::mersenne_twister}) {
    const auto draws = per_step_draws(type, settings_of(77, paths, 2, factors, 1), steps);
    const double n = double(draws.size());
    const moments m = moments_of(draws);
    EXPECT_LT(std::abs(m.mean), 4.0 / std::sqrt(n)) << int(type);
    EXPECT_LT(std::abs(m.variance - 1.0), 4.0 * std::sqrt(2.0 / n)) << int(type);
    EXPECT_LT(ks_distance(draws), 1.95 / std::sqrt(n)) << int(type);
    const double bound = 4.0 / std::sqrt(double(paths));
    for (std::size_t k = 0; k < steps; ++k)
      for (std::size_t f = 0; f < factors; ++f) {
        const double* row = &draws[(k * factors + f) * paths];
        for (std::size_t g = f + 1; g < factors; ++g) {
          EXPECT_LT(std::abs(correlation(row, &draws[(k * factors + g) * paths], paths)), bound)
              << int(type) << " step " << k << " factors " << f << "," << g;
        }
        if (k + 1 < steps) {
          EXPECT_LT(std::abs(correlation(row, &draws[((k + 1) * factors + f) * paths], paths)), bound)
              << int(type) << " steps " << k << "," << k + 1 << " factor " << f;
        }
        // Neighbouring paths share a counter block: they must not be correlated either.
        EXPECT_LT(std::abs(correlation(row, row + 1, paths - 1)), bound) << int(type) << " lag-1 paths";
      }
  }
}

TEST(random_per_step, fills_allocate_nothing_and_zero_type_writes_zeros) {
  // Up-front generators size their scratch at construction too.
  for (auto type : {random_type::philox_upfront, random_type::sobol, random_type::sobol_brownian_bridge}) {
    const auto s = settings_of(3, 1000, 6, 2, 0, random_type::mersenne_twister, true);
    auto g = random::random_generator_factory(type, s);
    std::vector<double> buffer(12000);
    const auto before = cpu_allocator::allocation_count();
    g->fill(buffer.data(), buffer.size(), 0);
    EXPECT_EQ(cpu_allocator::allocation_count(), before) << int(type);
  }
  for (auto type : {random_type::philox, random_type::threefry, random_type::mersenne_twister, random_type::zero}) {
    const auto s = settings_of(3, 3000, 2, 3);
    auto g = random::random_generator_factory(type, s);
    std::vector<double> buffer(9000, 1.0);
    const auto before = cpu_allocator::allocation_count();
    for (int k = 0; k < 3; ++k) g->fill(buffer.data(), buffer.size(), 0);
    EXPECT_EQ(cpu_allocator::allocation_count(), before) << int(type);
    EXPECT_EQ(static_cast<random_per_step&>(*g).steps_drawn(), 3u);
    if (type == random_type::zero) {
      EXPECT_EQ(buffer, std::vector<double>(9000, 0.0));
    }
  }
}

TEST(random_per_step, factory_types_and_misuse_are_checked) {
  EXPECT_FALSE(random::generate_upfront_onley(random_type::zero));
  EXPECT_TRUE(random::generate_upfront_onley(random_type::philox_upfront));
  EXPECT_FALSE(random::generate_upfront_onley(random_type::philox));
  EXPECT_FALSE(random::generate_upfront_onley(random_type::mersenne_twister));
  EXPECT_FALSE(random::generate_upfront_onley(random_type::threefry));
  EXPECT_TRUE(random::generate_upfront_onley(random_type::sobol));
  EXPECT_TRUE(random::generate_upfront_onley(random_type::sobol_brownian_bridge));
  const auto bad = static_cast<random_type>(9);
  EXPECT_EQ(error_text([&] { random::generate_upfront_onley(bad); }), "unknown random_type 9");
  const auto s = settings_of(1, 100, 5, 2, 3);
  EXPECT_EQ(error_text([&] { random::random_generator_factory(bad, s); }), "unknown random_type 9");
  EXPECT_EQ(error_text([&] { random::random_generator_factory(random_type::philox, nullptr); }),
            "random settings are missing");

  auto g = random::random_generator_factory(random_type::philox, s);
  std::vector<double> buffer(1000);
  // The up-front count on a per-step generator, and a wrong offset.
  EXPECT_EQ(error_text([&] { g->fill(buffer.data(), 1000, 3000); }),
            "Expected count == size to be true, but got false.  a per-step fill writes number_of_brownians * "
            "number_of_paths_per_batch = 200 draws, got 1000");
  EXPECT_EQ(error_text([&] { g->fill(buffer.data(), 200, 0); }),
            "Expected offset == size * s.batch_index() to be true, but got false.  the offset of a per-step fill is "
            "count * batch_index = 600, got 0");
  EXPECT_EQ(static_cast<random_per_step&>(*g).steps_drawn(), 0u);  // refused fills draw nothing
}

}  // namespace
}  // namespace tarvex
