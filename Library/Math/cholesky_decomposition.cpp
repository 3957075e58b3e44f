#include "Math/cholesky_decomposition.h"

#include <cmath>
#include <vector>

#include "Core/check.h"

namespace tarvex {
namespace {

void check_type(int type) {
  TARVEX_CHECK_TEXT(type == 'L' || type == 'U', "cholesky_decomposition: type must be 'L' or 'U'");
}

// `!(pivot > 0)` rather than `pivot <= 0` so that NaN pivots fail too.
bool positive(double pivot) { return pivot > 0.0; }

// Row-by-row (Cholesky-Banachiewicz): every dot product runs along two contiguous rows.
bool factor_lower(double* a, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    double* row_i = a + i * n;
    for (std::size_t j = 0; j <= i; ++j) {
      const double* row_j = a + j * n;
      double s = row_i[j];
      for (std::size_t k = 0; k < j; ++k) s -= row_i[k] * row_j[k];
      if (j < i) {
        row_i[j] = s / row_j[j];
      } else {
        if (!positive(s)) return false;
        row_i[i] = std::sqrt(s);
      }
    }
  }
  return true;
}

// Row i of U is A's row i minus the outer-product updates of the rows above it; the
// updates are axpys along contiguous rows.
bool factor_upper(double* a, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    double* row_i = a + i * n;
    for (std::size_t k = 0; k < i; ++k) {
      const double* row_k = a + k * n;
      const double u_ki = row_k[i];
      for (std::size_t j = i; j < n; ++j) row_i[j] -= u_ki * row_k[j];
    }
    if (!positive(row_i[i])) return false;
    const double pivot = std::sqrt(row_i[i]);
    row_i[i] = pivot;
    for (std::size_t j = i + 1; j < n; ++j) row_i[j] /= pivot;
  }
  return true;
}

// Reverse sweep of factor_lower. `l` is the lower factor, `l_bar` a scratch copy of its
// adjoint (lower triangle, consumed), `a_bar` receives the adjoint of the lower triangle
// of A as the forward pass read it.
void reverse_lower(const double* l, double* l_bar, double* a_bar, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    const double* l_i = l + i * n;
    double* l_bar_i = l_bar + i * n;
    for (std::size_t j = i + 1; j-- > 0;) {
      const double* l_j = l + j * n;
      double* l_bar_j = l_bar + j * n;
      double s_bar;
      if (j == i) {
        s_bar = 0.5 * l_bar_i[i] / l_i[i];
      } else {
        s_bar = l_bar_i[j] / l_j[j];
        l_bar_j[j] -= s_bar * l_i[j];
      }
      a_bar[i * n + j] = s_bar;
      // For j == i both updates hit the same row, giving the factor 2 of L(i,k)^2.
      for (std::size_t k = 0; k < j; ++k) {
        l_bar_i[k] -= s_bar * l_j[k];
        l_bar_j[k] -= s_bar * l_i[k];
      }
    }
  }
}

}  // namespace

bool cholesky_decomposition(double* data, std::size_t n, int type) {
  check_type(type);
  return type == 'L' ? factor_lower(data, n) : factor_upper(data, n);
}

void cholesky_decomposition_aad(const double* factor, const double* factor_adjoint, double* matrix_adjoint,
                                std::size_t n, int type) {
  check_type(type);
  if (n == 0) return;
  // The sweep works on lower-triangular copies: it consumes the adjoint, and for 'U' the
  // transposes turn U = L^T back into the lower case.
  std::vector<double> l(n * n, 0.0), l_bar(n * n, 0.0), a_bar(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      const std::size_t from = type == 'L' ? i * n + j : j * n + i;
      l[i * n + j] = factor[from];
      l_bar[i * n + j] = factor_adjoint[from];
    }
  reverse_lower(l.data(), l_bar.data(), a_bar.data(), n);
  // The forward pass read only one triangle, so an off-diagonal entry of that triangle
  // stands for both A(a,b) and A(b,a): split it evenly to make the adjoint symmetric.
  for (std::size_t i = 0; i < n; ++i) {
    matrix_adjoint[i * n + i] += a_bar[i * n + i];
    for (std::size_t j = 0; j < i; ++j) {
      const double half = 0.5 * a_bar[i * n + j];
      matrix_adjoint[i * n + j] += half;
      matrix_adjoint[j * n + i] += half;
    }
  }
}

}  // namespace tarvex
