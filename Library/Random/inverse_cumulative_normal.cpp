#include "Random/inverse_cumulative_normal.h"

#include "Random/details/kernels.h"

namespace tarvex {

// Through the array kernel, so that a single value equals the same value in an array.
double inverse_cumulative_normal(double p) {
  double x = 0.0;
  random_details::kernels().inverse_normal(&p, &x, 1);
  return x;
}

void inverse_cumulative_normal(const double* p, double* x, std::size_t n) {
  random_details::kernels().inverse_normal(p, x, n);
}

void inverse_cumulative_normal(simd_level level, const double* p, double* x, std::size_t n) {
  random_details::kernels(level).inverse_normal(p, x, n);
}

}  // namespace tarvex
