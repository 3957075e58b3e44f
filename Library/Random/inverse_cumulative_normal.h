#pragma once
#include <cstddef>

#include "Vectorization/vectorized_math.h"

namespace tarvex {

// Inverse of the standard normal distribution function by Wichura's AS241 (PPND16):
// relative error below 1e-15 for p in [1e-300, 1 - 2^-53], exactly odd about 1/2 on
// every p for which p - 1/2 is exact. p = 0 and 1 give -inf and +inf, p outside [0, 1]
// or NaN gives NaN.
double inverse_cumulative_normal(double p);

// x[i] = inverse_cumulative_normal(p[i]); x may equal p. Vectorised, with the same
// operations on every instruction set: results are equal bit for bit on all of them.
void inverse_cumulative_normal(const double* p, double* x, std::size_t n);

// The same on a forced instruction set (tests, benchmarks); throws "simd level is not
// supported by this cpu" when the CPU cannot run it.
void inverse_cumulative_normal(simd_level level, const double* p, double* x, std::size_t n);

}  // namespace tarvex
