#pragma once
#include <cstddef>
#include <vector>

#include "Vectorization/tensor.h"

namespace tarvex {

// The solution a PDE scheme advances: one tensor whose leading extent counts the
// results when there are several, followed by the space dimensions.
class pde_storage {
 public:
  // `layers` time layers kept (the schemes here need one), `results` solutions on the
  // grid `dimensions` (the result count in front when above one), zero-filled.
  pde_storage(std::size_t layers, std::size_t results, std::vector<std::size_t> dimensions);

  tensor<double>& result() noexcept { return result_; }
  const tensor<double>& result() const noexcept { return result_; }
  std::size_t number_of_results() const noexcept { return results_; }
  std::size_t layers() const noexcept { return layers_; }
  // Nodes of one result: the product of the space extents.
  std::size_t nodes() const noexcept { return results_ == 0 ? 0 : result_.size() / results_; }
  // Result r as a flat block of nodes().
  double* slice(std::size_t r) noexcept { return result_.data() + r * nodes(); }
  const double* slice(std::size_t r) const noexcept { return result_.data() + r * nodes(); }

 private:
  std::size_t layers_;
  std::size_t results_;
  tensor<double> result_;
};

}  // namespace tarvex
