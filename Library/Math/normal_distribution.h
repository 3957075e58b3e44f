#pragma once

namespace tarvex {

struct normal_distribution {
  // Standard normal density e^{-x^2/2} / sqrt(2 pi); 0 for |x| beyond about 38.6.
  static double density(double x);
  // Density of N(mean, sd^2) at x; expects sd > 0.
  static double density(double x, double mean, double sd);
};

}  // namespace tarvex
