#pragma once
#include <cstddef>
#include <memory>

#include "Analytics/common/random_config.h"
#include "Random/random.h"
#include "Vectorization/matrix.h"

namespace tarvex {

// The correlated standard Gaussian draws of one batch, step by step: a B x P matrix
// per step (one row per factor, one column per path) for B brownians and P paths.
//
// Per-step generators draw at each call into the first half of a 2 B P buffer; a lower
// triangular factor correlates them in place, any other writes into the second half. Up-front generators fill D B P doubles at
// construction, D blocks of B x P, optionally orthogonalised row by row; block k
// holds the draws of step k = 1 ... D - 1 and block 0 receives the results.
class random_manager {
 public:
  // Builds the configuration's main generator and the buffer; up-front draws are made
  // (and orthogonalised when the settings ask for it) here.
  explicit random_manager(const std::shared_ptr<const random_config>& config);

  // P, the paths of the batch.
  std::size_t number_of_paths() const;

  // L Z for the draws Z of step `step`, with L the B x B lower Cholesky factor of the
  // factor correlation. The result views the manager's buffer and is overwritten by
  // the next call. Up front, steps run from 1 to D - 1; per step, each call draws the
  // next step and `step` is not read.
  matrix<double> correlate(std::size_t step, const matrix<double>& lower);

  // Whether the draws were made at construction.
  bool upfront() const { return upfront_; }

 private:
  void orthogonalize();

  // Hands the buffer back to the Core allocator, also when construction throws after
  // allocating it (a generator refusing its fill).
  struct buffer_deleter {
    void operator()(double* buffer) const noexcept;
  };

  std::shared_ptr<const random_config> config_;
  std::shared_ptr<random> generator_;
  bool upfront_ = false;
  std::size_t size_ = 0;
  std::unique_ptr<double[], buffer_deleter> buffer_;
  std::size_t half_ = 0;
};

}  // namespace tarvex
