#pragma once
#include "Vectorization/matrix.h"
#include "json_input.h"

namespace tarvex::app {

// A correlation matrix read from `node` (an array of rows): square, with `size` rows
// when size > 0, unit diagonal, symmetric, off-diagonal entries strictly inside
// (-1, 1) and positive definite (checked by Cholesky), so that the library's
// factorisation cannot fail on it later. Errors name the bad entry.
matrix<double> read_correlation_matrix(const json_node& node, std::size_t size = 0);

}  // namespace tarvex::app
