#pragma once
#include <cstddef>
#include <vector>

#include "Vectorization/tensor.h"

namespace tarvex {

// Convection, diffusion and reaction coefficients of a PDE on a grid of shape
// `dimensions`, one value per grid node, zero-filled at construction.
//
// The engine owns this object and hands models a std::shared_ptr<const ...>: models must
// not resize or replace the tensors, only write the numbers of the current step. The
// tensors are therefore mutable members handed out by reference from const accessors.
class pde_model_coefficients {
 public:
  // Zero tensors of shape `dimensions` (non-empty, every extent positive).
  pde_model_coefficients(std::vector<std::size_t> dimensions, bool time_dependent);

  // Coefficient of the first-derivative terms.
  tensor<double>& convection() const noexcept { return convection_; }
  // Coefficient of the second-derivative terms.
  tensor<double>& diffusion() const noexcept { return diffusion_; }
  // Coefficient of the undifferentiated term.
  tensor<double>& reaction() const noexcept { return reaction_; }
  // True when the model must refill the coefficients at every time step.
  bool time_dependent() const noexcept { return time_dependent_; }
  // Grid extents, outermost first.
  const std::vector<std::size_t>& dimensions() const noexcept { return dimensions_; }

 private:
  std::vector<std::size_t> dimensions_;
  bool time_dependent_;
  mutable tensor<double> convection_;
  mutable tensor<double> diffusion_;
  mutable tensor<double> reaction_;
};

}  // namespace tarvex
