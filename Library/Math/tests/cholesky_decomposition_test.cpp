#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Core/error.h"
#include "Math/cholesky_decomposition.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using dense = std::vector<double>;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// M * M^T + n * I: symmetric and comfortably positive definite.
dense random_spd(std::size_t n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  dense m(n * n), a(n * n);
  for (double& x : m) x = u(rng);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      double s = i == j ? double(n) : 0.0;
      for (std::size_t p = 0; p < n; ++p) s += m[i * n + p] * m[j * n + p];
      a[i * n + j] = s;
    }
  return a;
}

bool in_triangle(std::size_t i, std::size_t j, int type) { return type == 'L' ? j <= i : j >= i; }

// The factor with the untouched triangle cleared; fails the test if decomposition fails.
dense factor_of(dense a, std::size_t n, int type) {
  EXPECT_TRUE(cholesky_decomposition(a.data(), n, type));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      if (!in_triangle(i, j, type)) a[i * n + j] = 0.0;
  return a;
}

using testing::error_text;

TEST(cholesky_decomposition, factor_reproduces_the_matrix_and_ignores_the_other_triangle) {
  std::mt19937 rng(7);
  for (int type : {'L', 'U'}) {
    for (std::size_t n = 1; n <= 6; ++n) {
      const dense a = random_spd(n, rng);
      // NaN in the opposite strict triangle: any read of it would poison the factor.
      dense work = a;
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
          if (!in_triangle(i, j, type)) work[i * n + j] = nan;
      ASSERT_TRUE(cholesky_decomposition(work.data(), n, type));
      dense f(n * n, 0.0);
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
          if (in_triangle(i, j, type))
            f[i * n + j] = work[i * n + j];
          else
            EXPECT_TRUE(std::isnan(work[i * n + j])) << "opposite triangle was written";
        }
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_GT(f[i * n + i], 0.0);
        for (std::size_t j = 0; j < n; ++j) {
          // L * L^T for 'L', U^T * U for 'U'.
          double s = 0.0;
          for (std::size_t p = 0; p < n; ++p)
            s += type == 'L' ? f[i * n + p] * f[j * n + p] : f[p * n + i] * f[p * n + j];
          EXPECT_NEAR(s, a[i * n + j], 1e-12 * n) << char(type) << " n=" << n << " (" << i << "," << j << ")";
        }
      }
    }
  }
}

TEST(cholesky_decomposition, closed_form_two_by_two) {
  // [[4, 2], [2, 5]] = L L^T with L = [[2, 0], [1, 2]].
  dense a{4, 2, 2, 5};
  ASSERT_TRUE(cholesky_decomposition(a.data(), 2, 'L'));
  EXPECT_EQ(a, (dense{2, 2, 1, 2}));
  dense b{4, 2, 2, 5};
  ASSERT_TRUE(cholesky_decomposition(b.data(), 2, 'U'));
  EXPECT_EQ(b, (dense{2, 1, 2, 2}));
  EXPECT_TRUE(cholesky_decomposition(nullptr, 0, 'L'));
}

TEST(cholesky_decomposition, reports_non_positive_definite_input) {
  for (int type : {'L', 'U'}) {
    dense indefinite{1, 2, 2, 1};
    EXPECT_FALSE(cholesky_decomposition(indefinite.data(), 2, type));
    dense singular{1, 1, 1, 1};  // second pivot is exactly zero
    EXPECT_FALSE(cholesky_decomposition(singular.data(), 2, type));
    dense negative{-1};
    EXPECT_FALSE(cholesky_decomposition(negative.data(), 1, type));
    dense nan_diagonal{4, 0, 0, nan};
    EXPECT_FALSE(cholesky_decomposition(nan_diagonal.data(), 2, type));
    dense nan_off_diagonal{4, nan, nan, 5};
    EXPECT_FALSE(cholesky_decomposition(nan_off_diagonal.data(), 2, type));
  }
  dense a{1};
  EXPECT_EQ(error_text([&] { cholesky_decomposition(a.data(), 1, 'X'); }),
            "cholesky_decomposition: type must be 'L' or 'U'");
  EXPECT_EQ(error_text([&] { cholesky_decomposition_aad(a.data(), a.data(), a.data(), 1, 'l'); }),
            "cholesky_decomposition: type must be 'L' or 'U'");
}

// J(A) = sum over the factor's triangle of W * factor(A).
double objective(const dense& a, const dense& w, std::size_t n, int type) {
  const dense f = factor_of(a, n, type);
  double j = 0.0;
  for (std::size_t i = 0; i < n * n; ++i) j += w[i] * f[i];
  return j;
}

TEST(cholesky_decomposition_aad, matches_symmetric_finite_differences) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int type : {'L', 'U'}) {
    for (std::size_t n : {1u, 2u, 3u, 5u}) {
      const dense a = random_spd(n, rng);
      dense w(n * n);
      for (double& x : w) x = u(rng);
      const dense f = factor_of(a, n, type);
      // Garbage in the ignored triangles of both inputs must not change the result.
      dense f_in = f, w_in = w;
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
          if (!in_triangle(i, j, type)) {
            f_in[i * n + j] = 1e3;
            w_in[i * n + j] = -7.0;
            w[i * n + j] = 0.0;  // so J itself only weights the factor's triangle
          }
      dense a_bar(n * n, 0.0);
      cholesky_decomposition_aad(f_in.data(), w_in.data(), a_bar.data(), n, type);

      const double h = 1e-6;
      for (std::size_t p = 0; p < n; ++p)
        for (std::size_t q = 0; q <= p; ++q) {
          EXPECT_DOUBLE_EQ(a_bar[p * n + q], a_bar[q * n + p]) << "adjoint not symmetric";
          dense up = a, down = a;
          up[p * n + q] += h;
          down[p * n + q] -= h;
          if (p != q) {
            up[q * n + p] += h;
            down[q * n + p] -= h;
          }
          const double fd = (objective(up, w, n, type) - objective(down, w, n, type)) / (2 * h);
          const double ad = p == q ? a_bar[p * n + p] : a_bar[p * n + q] + a_bar[q * n + p];
          EXPECT_NEAR(ad, fd, 1e-6 * std::max(1.0, std::abs(fd)))
              << char(type) << " n=" << n << " (" << p << "," << q << ")";
        }
    }
  }
}

// Independent reference: A_bar = sym(L^-T * Phi(L^T * L_bar) * L^-1), Phi keeping the
// lower triangle with the diagonal halved.
dense closed_form_adjoint(const dense& l, const dense& l_bar, std::size_t n) {
  dense inv(n * n, 0.0);  // L^-1 by forward substitution, column by column
  for (std::size_t c = 0; c < n; ++c)
    for (std::size_t i = c; i < n; ++i) {
      double s = i == c ? 1.0 : 0.0;
      for (std::size_t p = c; p < i; ++p) s -= l[i * n + p] * inv[p * n + c];
      inv[i * n + c] = s / l[i * n + i];
    }
  dense phi(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      double s = 0.0;
      for (std::size_t p = 0; p < n; ++p) s += l[p * n + i] * l_bar[p * n + j];
      phi[i * n + j] = i == j ? 0.5 * s : s;
    }
  dense t(n * n, 0.0), s(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t p = 0; p < n; ++p) t[i * n + j] += phi[i * n + p] * inv[p * n + j];
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t p = 0; p < n; ++p) s[i * n + j] += inv[p * n + i] * t[p * n + j];
  dense out(n * n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) out[i * n + j] = 0.5 * (s[i * n + j] + s[j * n + i]);
  return out;
}

TEST(cholesky_decomposition_aad, matches_closed_form_and_accumulates) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t n = 6;
  const dense l = factor_of(random_spd(n, rng), n, 'L');
  dense l_bar(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) l_bar[i * n + j] = u(rng);
  const dense expected = closed_form_adjoint(l, l_bar, n);

  dense a_bar(n * n, 0.0);
  cholesky_decomposition_aad(l.data(), l_bar.data(), a_bar.data(), n, 'L');
  for (std::size_t i = 0; i < n * n; ++i) EXPECT_NEAR(a_bar[i], expected[i], 1e-12);
  cholesky_decomposition_aad(l.data(), l_bar.data(), a_bar.data(), n, 'L');
  for (std::size_t i = 0; i < n * n; ++i) EXPECT_NEAR(a_bar[i], 2 * expected[i], 1e-12);

  // 'U' with U = L^T and U_bar = L_bar^T is the same derivative.
  dense u_f(n * n), u_bar(n * n), a_bar_u(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      u_f[i * n + j] = l[j * n + i];
      u_bar[i * n + j] = l_bar[j * n + i];
    }
  cholesky_decomposition_aad(u_f.data(), u_bar.data(), a_bar_u.data(), n, 'U');
  for (std::size_t i = 0; i < n * n; ++i) EXPECT_NEAR(a_bar_u[i], expected[i], 1e-12);
}

}  // namespace
}  // namespace tarvex
