#include "Analytics/change_of_measure/change_of_measure.h"

#include "Core/check.h"

namespace tarvex {

change_of_measure::change_of_measure(matrix<double>&& factor_loadings, matrix<double>&& step_loadings)
    : factor_loadings_(std::move(factor_loadings)), step_loadings_(std::move(step_loadings)) {
  TARVEX_CHECK(!active() || factor_loadings_.columns() == step_loadings_.columns(), "factor loadings columns ",
               factor_loadings_.columns(), " is differents from step loadings columns ", step_loadings_.columns());
}

double change_of_measure::drift(std::size_t step, std::size_t factor) const {
  if (!active()) return 0.0;
  TARVEX_CHECK(step < step_loadings_.rows() && factor < factor_loadings_.rows(), "drift asked for step ", step,
               " and factor ", factor, " of ", step_loadings_.rows(), " steps and ", factor_loadings_.rows(),
               " factors");
  const std::size_t m = step_loadings_.columns();
  const double* a = factor_loadings_.row_data(factor);
  const double* b = step_loadings_.row_data(step);
  // Blocks of 32 summed separately, then the remainder: the order of additions is fixed
  // so results do not depend on how the compiler vectorises.
  constexpr std::size_t block = 32;
  double total = 0.0;
  std::size_t j = 0;
  for (; j + block <= m; j += block) {
    double partial = 0.0;
    for (std::size_t l = 0; l < block; ++l) partial += a[j + l] * b[j + l];
    total += partial;
  }
  double rest = 0.0;
  for (; j < m; ++j) rest += a[j] * b[j];
  return total + rest;
}

}  // namespace tarvex
