#pragma once
#include <cstddef>
#include <vector>

#include "Vectorization/matrix.h"

namespace tarvex {

// All state blocks of one batch in a single 64-byte aligned buffer, allocated once:
// for each diffusion d in order its previous block, then its current block, each
// s_d x P (one row per state variable, one column per path).
class states_variables {
 public:
  states_variables(const std::vector<std::size_t>& sizes, std::size_t paths);
  ~states_variables();
  states_variables(const states_variables&) = delete;
  states_variables& operator=(const states_variables&) = delete;

  // Views of diffusion d's blocks.
  matrix<double> previous(std::size_t d);
  matrix<double> current(std::size_t d);

  std::size_t number_of_paths() const { return paths_; }
  std::size_t number_of_diffusions() const { return sizes_.size(); }
  const std::vector<std::size_t>& sizes() const { return sizes_; }

 private:
  double* buffer_ = nullptr;
  std::vector<std::size_t> sizes_;
  std::size_t paths_;
  std::vector<std::size_t> offsets_;  // previous block of d at offsets_[d]; current follows
};

}  // namespace tarvex
