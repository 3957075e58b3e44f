#include "Math/normal_distribution.h"

#include <cmath>

namespace tarvex {

double normal_distribution::density(double x) {
  constexpr double inv_sqrt_2pi = 0.398942280401432677939946059934;
  return inv_sqrt_2pi * std::exp(-0.5 * x * x);
}

double normal_distribution::density(double x, double mean, double sd) { return density((x - mean) / sd) / sd; }

}  // namespace tarvex
