#include "Math/matrix_multiplication.h"

#include <vector>

#include "Core/check.h"

namespace tarvex {

void matrix_multiplication(bool transpose_a, bool transpose_b, std::size_t m, std::size_t n, std::size_t k,
                           const double* a, std::size_t lda, const double* b, std::size_t ldb, double* c,
                           std::size_t ldc) {
  TARVEX_CHECK(lda >= (transpose_a ? m : k), "lda=", lda, " m=", m, " k=", k);
  TARVEX_CHECK(ldb >= (transpose_b ? k : n), "ldb=", ldb, " n=", n, " k=", k);
  TARVEX_CHECK(ldc >= n, "ldc=", ldc, " n=", n);

  // A transposed B would make the inner loop strided; one k x n copy keeps every path on
  // the same contiguous i-k-j kernel.
  std::vector<double> b_transposed;
  if (transpose_b && m > 0 && n > 0 && k > 0) {
    b_transposed.resize(k * n);
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t p = 0; p < k; ++p) b_transposed[p * n + j] = b[j * ldb + p];
    b = b_transposed.data();
    ldb = n;
  }

  for (std::size_t i = 0; i < m; ++i) {
    double* __restrict c_i = c + i * ldc;
    for (std::size_t j = 0; j < n; ++j) c_i[j] = 0.0;
    for (std::size_t p = 0; p < k; ++p) {
      const double a_ip = transpose_a ? a[p * lda + i] : a[i * lda + p];
      const double* __restrict b_p = b + p * ldb;
      for (std::size_t j = 0; j < n; ++j) c_i[j] += a_ip * b_p[j];
    }
  }
}

}  // namespace tarvex
