#include "Analytics/foundations/state_parameter_blocks.h"

#include <algorithm>

namespace tarvex::state_blocks {

std::size_t write_dense(const matrix<double>& m, double* out) {
  std::copy_n(m.data(), m.size(), out);
  return m.size();
}

std::size_t read_dense(matrix<double>& m, const double* in) {
  std::copy_n(in, m.size(), m.data());
  return m.size();
}

std::size_t write_correlation(const matrix<double>& c, std::size_t n, double* out) {
  std::size_t k = 0;
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = 0; j < i; ++j) out[k++] = c(i, j);
  return k;
}

std::size_t read_correlation(matrix<double>& c, std::size_t n, const double* in) {
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const double v = in[k++];
      c(i, j) = v;
      c(j, i) = v;
    }
    c(i, i) = 1.0;
  }
  return k;
}

}  // namespace tarvex::state_blocks
