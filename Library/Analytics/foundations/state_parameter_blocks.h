#pragma once
// Copies between the blocks of a parameter set and its flat state-parameter vector.
// Every parameter set walks its blocks in layout order with these, so the get and
// set walks of a class cannot disagree on an entry's position.
#include <cstddef>

#include "Vectorization/matrix.h"

namespace tarvex::state_blocks {

// Entries in the strictly lower triangle of an n x n matrix.
constexpr std::size_t strict_lower_size(std::size_t n) { return n * (n - (n > 0 ? 1 : 0)) / 2; }
// Position of (i, j), j < i, inside the strictly lower triangle, row by row.
constexpr std::size_t strict_lower_index(std::size_t i, std::size_t j) { return i * (i - 1) / 2 + j; }

// Writes all entries of `m` row-major from out[0]; returns the count written.
std::size_t write_dense(const matrix<double>& m, double* out);
// Reads all entries of `m` row-major from in[0]; returns the count read.
std::size_t read_dense(matrix<double>& m, const double* in);
// Writes the strictly lower triangle of the leading n x n block of `c`.
std::size_t write_correlation(const matrix<double>& c, std::size_t n, double* out);
// Reads the strictly lower triangle into both triangles and puts 1 on the diagonal.
std::size_t read_correlation(matrix<double>& c, std::size_t n, const double* in);

}  // namespace tarvex::state_blocks
