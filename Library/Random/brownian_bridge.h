#pragma once
#include <cstddef>
#include <vector>

namespace tarvex {

// Brownian bridge on n equal unit steps: W at times 1 ... n built from n standard
// normals, the first fixing W(n), the next ones bisecting the largest gaps (Jaeckel's
// construction, which also handles n that are not powers of two). Sobol draws fed in
// this order put their best dimensions on the coarse shape of the path. Unit steps
// suffice for any date grid: the consumer scales the normalised increments, which are
// i.i.d. N(0, 1) whatever the dates.
class brownian_bridge {
 public:
  // Throws tarvex::Error for n = 0.
  explicit brownian_bridge(std::size_t steps);

  std::size_t steps() const { return steps_; }

  // Index (0-based time point, W at time index + 1) fixed by the i-th normal.
  std::size_t bridge_index(std::size_t i) const { return bridge_[i]; }

  // On `lanes` independent paths at once, rows of `lanes` doubles: z holds the normals
  // (row i = i-th in bridge order), increments receives W(k+1) - W(k) in row k. The two
  // must not overlap.
  void transform(const double* z, double* increments, std::size_t lanes) const;

 private:
  std::size_t steps_;
  std::vector<std::size_t> bridge_, left_, right_;
  std::vector<double> left_weight_, right_weight_, deviation_;
};

}  // namespace tarvex
