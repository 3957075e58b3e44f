#include "correlation_input.h"

#include <cmath>
#include <string>
#include <vector>

namespace tarvex::app {

matrix<double> read_correlation_matrix(const json_node& node, std::size_t size) {
  const auto rows = node.number_table();
  const std::size_t n = rows.size();
  if (n == 0 || rows[0].size() != n || (size > 0 && n != size))
    node.fail(size > 0 ? "a " + std::to_string(size) + " x " + std::to_string(size) + " matrix, one row per factor"
                       : std::string("a square matrix"));
  matrix<double> c(n, n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      c(i, j) = rows[i][j];
      if (i == j ? rows[i][j] != 1.0 : !(std::fabs(rows[i][j]) < 1.0))
        node.at(i).at(j).fail(i == j ? "1 on the diagonal" : "a correlation strictly between -1 and 1");
      if (rows[i][j] != rows[j][i]) node.at(i).at(j).fail("a symmetric matrix");
    }
  std::vector<double> l(n * n, 0.0);
  for (std::size_t j = 0; j < n; ++j) {
    double d = c(j, j);
    for (std::size_t k = 0; k < j; ++k) d -= l[j * n + k] * l[j * n + k];
    if (!(d > 1e-12)) node.fail("a positive definite correlation matrix");
    l[j * n + j] = std::sqrt(d);
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = c(i, j);
      for (std::size_t k = 0; k < j; ++k) s -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = s / l[j * n + j];
    }
  }
  return c;
}

}  // namespace tarvex::app
