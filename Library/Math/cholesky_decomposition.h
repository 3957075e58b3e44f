#pragma once
#include <cstddef>

namespace tarvex {

// In-place Cholesky factorisation of the symmetric positive-definite n x n row-major
// matrix at `data`.
//
// type 'L': the lower triangle (diagonal included) becomes L with A = L * L^T.
// type 'U': the upper triangle (diagonal included) becomes U with A = U^T * U.
// Only the triangle that is written is read, and the opposite strict triangle is left
// untouched, so callers that need a clean factor zero it themselves.
//
// Returns false when a pivot is not strictly positive (or is NaN): the matrix is not
// positive definite and the written triangle is left partially overwritten. Any other
// type throws "cholesky_decomposition: type must be 'L' or 'U'".
bool cholesky_decomposition(double* data, std::size_t n, int type);

// Reverse-mode derivative of cholesky_decomposition: adds into the n x n row-major
// `matrix_adjoint` the symmetric adjoint A_bar of the input matrix, so that for every
// symmetric perturbation dA, dJ = sum_ab A_bar(a, b) * dA(a, b).
//
// type 'L': `factor` and `factor_adjoint` hold L and L_bar in their lower triangles.
// type 'U': they hold U and U_bar in their upper triangles. The other strict triangle
// of both inputs is ignored. `factor` must come from a successful factorisation.
void cholesky_decomposition_aad(const double* factor, const double* factor_adjoint, double* matrix_adjoint,
                                std::size_t n, int type);

}  // namespace tarvex
