#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "Analytics/common/random_manager.h"
#include "Core/cpu_allocator.h"
#include "Core/error.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

std::shared_ptr<const random_config> config(random_type type, std::size_t paths, std::size_t dates,
                                            std::size_t brownians, std::size_t batch = 0, bool orthogonal = false) {
  return std::make_shared<const random_config>(type, 2024, paths, dates, brownians, batch, false, orthogonal,
                                               random_type::philox, device_type::cpu);
}

matrix<double> identity(std::size_t n) {
  matrix<double> m(n, n, 0.0);
  for (std::size_t i = 0; i < n; ++i) m(i, i) = 1.0;
  return m;
}

// The draws the configuration's generator makes, built apart from the manager:
// `fills` calls of `count` doubles each, at offset count * batch_index.
std::vector<double> reference_draws(const random_config& c, std::size_t count, std::size_t fills) {
  auto g = random::random_generator_factory(c.main_generator_type(), c.settings());
  std::vector<double> all(count * fills);
  for (std::size_t k = 0; k < fills; ++k) g->fill(all.data() + k * count, count, count * c.settings()->batch_index());
  return all;
}

std::vector<double> copy_of(const matrix<double>& m) { return {m.data(), m.data() + m.size()}; }

TEST(random_manager, identity_correlation_returns_the_raw_draws) {
  // Per step: each call is the generator's next fill.
  const auto per_step = config(random_type::philox, 32, 4, 3, 5);
  random_manager m(per_step);
  EXPECT_FALSE(m.upfront());
  const auto expected = reference_draws(*per_step, 3 * 32, 3);
  for (std::size_t k = 0; k < 3; ++k) {
    const auto z = m.correlate(k + 1, identity(3));
    ASSERT_EQ(z.rows(), 3u);
    ASSERT_EQ(z.columns(), 32u);
    EXPECT_TRUE(z.is_view());
    EXPECT_EQ(copy_of(z), std::vector<double>(expected.begin() + k * 96, expected.begin() + (k + 1) * 96)) << k;
  }

  // Up front: step k is block k of the one fill, in any order.
  const auto upfront = config(random_type::philox_upfront, 16, 4, 2, 3);
  random_manager u(upfront);
  EXPECT_TRUE(u.upfront());
  const auto blocks = reference_draws(*upfront, 4 * 2 * 16, 1);
  for (std::size_t k : {3, 1, 2}) {
    EXPECT_EQ(copy_of(u.correlate(k, identity(2))),
              std::vector<double>(blocks.begin() + k * 32, blocks.begin() + (k + 1) * 32))
        << k;
  }

  // The zero generator leaves the zeros of the step.
  random_manager zero(config(random_type::zero, 8, 2, 2));
  for (double v : copy_of(zero.correlate(1, identity(2)))) EXPECT_EQ(v, 0.0);
}

TEST(random_manager, number_of_paths_is_the_batch_size_for_every_generator) {
  for (auto type : {random_type::zero, random_type::philox_upfront, random_type::philox, random_type::mersenne_twister,
                    random_type::threefry, random_type::sobol, random_type::sobol_brownian_bridge})
    EXPECT_EQ(random_manager(config(type, 48, 3, 2)).number_of_paths(), 48u) << static_cast<int>(type);
}

// Orthonormalises rows 0..r-1 of the raw draws by classical Gram-Schmidt applied
// twice (long double), then scales to mean square 1: the same subspace construction
// as the manager's modified variant, which agrees with it in exact arithmetic.
std::vector<double> reference_orthogonal(const std::vector<double>& raw, std::size_t rows, std::size_t paths) {
  std::vector<long double> q(raw.begin(), raw.end());
  for (std::size_t r = 0; r < rows; ++r) {
    long double* x = q.data() + r * paths;
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<long double> c(r, 0.0L);
      for (std::size_t j = 0; j < r; ++j)
        for (std::size_t p = 0; p < paths; ++p) c[j] += x[p] * q[j * paths + p] / paths;  // rows j have <q,q> = P
      for (std::size_t j = 0; j < r; ++j)
        for (std::size_t p = 0; p < paths; ++p) x[p] -= c[j] * q[j * paths + p];
    }
    long double ms = 0.0L;
    for (std::size_t p = 0; p < paths; ++p) ms += x[p] * x[p];
    const long double s = std::sqrt(ms / paths);
    for (std::size_t p = 0; p < paths; ++p) x[p] /= s;
  }
  return {q.begin(), q.end()};
}

TEST(random_manager, upfront_rows_are_orthonormal_over_the_paths) {
  const std::size_t paths = 64, dates = 5, brownians = 3, rows = dates * brownians;  // P >= D B
  const auto c = config(random_type::philox_upfront, paths, dates, brownians, 1, true);
  random_manager m(c);
  const auto expected = reference_orthogonal(reference_draws(*c, rows * paths, 1), rows, paths);

  // Block 0 is the output area; blocks 1..D-1 are read back through correlate.
  std::vector<double> seen;
  for (std::size_t k = 1; k < dates; ++k) {
    const auto block = copy_of(m.correlate(k, identity(brownians)));
    seen.insert(seen.end(), block.begin(), block.end());
  }
  const std::size_t first = brownians;  // first row of block 1
  for (std::size_t r = 0; r < rows - first; ++r) {
    const double* x = seen.data() + r * paths;
    double mean_square = 0.0;
    for (std::size_t p = 0; p < paths; ++p) mean_square += x[p] * x[p] / paths;
    EXPECT_NEAR(mean_square, 1.0, 1e-12) << r;
    for (std::size_t j = 0; j < r; ++j) {
      double inner = 0.0;
      for (std::size_t p = 0; p < paths; ++p) inner += x[p] * seen[j * paths + p] / paths;
      EXPECT_NEAR(inner, 0.0, 1e-12) << r << " " << j;
    }
    // Same rows as the independent construction, to a few hundred ulps of the entries.
    for (std::size_t p = 0; p < paths; ++p)
      EXPECT_NEAR(x[p], expected[(first + r) * paths + p], 1e-12 * (1 + std::fabs(x[p]))) << r << " " << p;
  }
}

TEST(random_manager, orthogonalisation_needs_a_path_per_row) {
  // One path short of 5 x 3 rows: the last row would be amplified rounding noise.
  EXPECT_EQ(testing::error_text([] { random_manager(config(random_type::sobol, 14, 5, 3, 0, true)); }),
            "random_manager: orthogonalised up-front draws need at least 15 paths per batch (5 dates x 3 "
            "brownians), got 14");
  // Exactly one path per row still gives an orthonormal last block.
  random_manager m(config(random_type::philox_upfront, 15, 5, 3, 0, true));
  const auto last = copy_of(m.correlate(4, identity(3)));
  for (std::size_t r = 0; r < 3; ++r) {
    double mean_square = 0.0, inner = 0.0;
    for (std::size_t p = 0; p < 15; ++p)
      mean_square += last[r * 15 + p] * last[r * 15 + p] / 15, inner += last[r * 15 + p] * last[((r + 1) % 3) * 15 + p];
    EXPECT_NEAR(mean_square, 1.0, 1e-12) << r;
    EXPECT_NEAR(inner, 0.0, 1e-12) << r;
  }
  // Per-step generators never orthogonalise: the flag is no reason to refuse.
  EXPECT_NO_THROW(random_manager(config(random_type::philox, 2, 5, 3, 0, true)));
}

// Lower Cholesky factor of a small SPD matrix, written out for the test.
matrix<double> lower_factor(const matrix<double>& a) {
  const std::size_t n = a.rows();
  matrix<double> l(n, n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      double s = a(i, j);
      for (std::size_t k = 0; k < j; ++k) s -= l(i, k) * l(j, k);
      l(i, j) = i == j ? std::sqrt(s) : s / l(j, j);
    }
  return l;
}

TEST(random_manager, correlated_draws_have_the_target_correlation) {
  const matrix<double> rho{{1.0, 0.6, -0.3}, {0.6, 1.0, 0.2}, {-0.3, 0.2, 1.0}};
  const auto lower = lower_factor(rho);
  const std::size_t paths = 1 << 15;
  for (auto type : {random_type::philox, random_type::philox_upfront}) {
    random_manager m(config(type, paths, 3, 3, 0));
    const auto z = m.correlate(2, lower);
    for (std::size_t i = 0; i < 3; ++i)
      for (std::size_t j = 0; j <= i; ++j) {
        double product = 0.0;
        for (std::size_t p = 0; p < paths; ++p) product += z(i, p) * z(j, p);
        // For standard bivariate normals Var(XY) = 1 + rho^2 (2 on the diagonal).
        const double se = std::sqrt((1.0 + rho(i, j) * rho(i, j)) / paths);
        EXPECT_LT(std::fabs(product / paths - rho(i, j)), 4.0 * se)
            << static_cast<int>(type) << " (" << i << ", " << j << ") " << product / paths;
      }
  }
}

TEST(random_manager, correlate_reuses_its_buffer_and_checks_its_arguments) {
  random_manager m(config(random_type::threefry, 128, 3, 2));
  const auto lower = identity(2);
  const auto first = m.correlate(1, lower);
  const auto before = cpu_allocator::allocation_count();
  const auto second = m.correlate(2, lower);
  EXPECT_EQ(cpu_allocator::allocation_count(), before);
  EXPECT_EQ(first.data(), second.data());
  EXPECT_THROW(m.correlate(1, identity(3)), Error);

  random_manager u(config(random_type::sobol, 16, 3, 2));
  EXPECT_THROW(u.correlate(0, identity(2)), Error);  // block 0 is the output area
  EXPECT_THROW(u.correlate(3, identity(2)), Error);
  EXPECT_NO_THROW(u.correlate(2, identity(2)));
}

}  // namespace
}  // namespace tarvex
