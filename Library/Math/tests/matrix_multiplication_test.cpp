#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Core/error.h"
#include "Math/matrix_multiplication.h"

namespace tarvex {
namespace {

constexpr double pad = -999.0;

// rows x columns of random values stored with row stride ld; the padding holds `pad`.
std::vector<double> random_padded(std::size_t rows, std::size_t columns, std::size_t ld, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(rows * ld, pad);
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t j = 0; j < columns; ++j) x[i * ld + j] = u(rng);
  return x;
}

TEST(matrix_multiplication, all_transpose_combinations_match_naive_product) {
  std::mt19937 rng(5);
  const std::size_t m = 3, n = 7, k = 5;
  for (bool ta : {false, true})
    for (bool tb : {false, true}) {
      const std::size_t a_rows = ta ? k : m, a_cols = ta ? m : k;
      const std::size_t b_rows = tb ? n : k, b_cols = tb ? k : n;
      const std::size_t lda = a_cols + 2, ldb = b_cols + 3, ldc = n + 1;
      const auto a = random_padded(a_rows, a_cols, lda, rng);
      const auto b = random_padded(b_rows, b_cols, ldb, rng);
      std::vector<double> c(m * ldc, pad);
      for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) c[i * ldc + j] = 1e6;  // must be overwritten
      matrix_multiplication(ta, tb, m, n, k, a.data(), lda, b.data(), ldb, c.data(), ldc);
      for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
          double s = 0.0;
          for (std::size_t p = 0; p < k; ++p)
            s += (ta ? a[p * lda + i] : a[i * lda + p]) * (tb ? b[j * ldb + p] : b[p * ldb + j]);
          EXPECT_NEAR(c[i * ldc + j], s, 1e-14) << ta << tb << " (" << i << "," << j << ")";
        }
        EXPECT_EQ(c[i * ldc + n], pad) << "padding of C was written";
      }
    }
}

TEST(matrix_multiplication, empty_inner_dimension_gives_zeros) {
  std::vector<double> c(6, 1.0);
  matrix_multiplication(false, true, 2, 3, 0, nullptr, 0, nullptr, 0, c.data(), 3);
  EXPECT_EQ(c, std::vector<double>(6, 0.0));
}

TEST(matrix_multiplication, rejects_short_leading_dimensions) {
  std::vector<double> x(64, 0.0);
  auto text = [&](bool ta, bool tb, std::size_t lda, std::size_t ldb, std::size_t ldc) {
    try {
      matrix_multiplication(ta, tb, 2, 3, 4, x.data(), lda, x.data(), ldb, x.data() + 32, ldc);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no throw");
  };
  EXPECT_EQ(text(false, false, 3, 3, 3),
            "Expected lda >= (transpose_a ? m : k) to be true, but got false.  lda=3 m=2 k=4");
  EXPECT_EQ(text(true, false, 2, 3, 3), "no throw");
  EXPECT_EQ(text(false, true, 4, 3, 3),
            "Expected ldb >= (transpose_b ? k : n) to be true, but got false.  ldb=3 n=3 k=4");
  EXPECT_EQ(text(false, false, 4, 3, 2), "Expected ldc >= n to be true, but got false.  ldc=2 n=3");
}

}  // namespace
}  // namespace tarvex
