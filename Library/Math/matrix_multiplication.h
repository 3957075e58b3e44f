#pragma once
#include <cstddef>

namespace tarvex {

// C = op(A) * op(B) on row-major buffers, overwriting C (m x n, row stride ldc).
// op(A) is m x k: A is stored m x k when transpose_a is false, k x m otherwise, with row
// stride lda; likewise op(B) is k x n from B stored k x n or n x k with row stride ldb.
// C must not overlap A or B.
void matrix_multiplication(bool transpose_a, bool transpose_b, std::size_t m, std::size_t n, std::size_t k,
                           const double* a, std::size_t lda, const double* b, std::size_t ldb, double* c,
                           std::size_t ldc);

}  // namespace tarvex
