#pragma once
#include <cstddef>

namespace tarvex {

// Base of every parameter set and model: a flat vector of state parameters that
// calibrators read, overwrite and differentiate. Gradient arrays are indexed by the
// object's own layout positions; an object nested in another (or sharing a gradient
// with it) gets distinct positions because its layout is built first and the outer
// object continues after it.
class aad_state_parameters_manager {
 public:
  virtual ~aad_state_parameters_manager() = default;

  // Hook run after adjoints are accumulated; does nothing unless a class needs it.
  virtual void finalize_aad(double* gradient) const;
  // Writes the state parameters from out[0]; returns the count written.
  virtual std::size_t get_state_parameters(double* out) const = 0;
  // Reads the state parameters from in[0]; returns the count read.
  virtual std::size_t set_state_parameters(const double* in) = 0;

  std::size_t state_parameters_size() const noexcept { return state_parameters_size_; }
  bool state_parameters_layout_built() const noexcept { return layout_built_; }

 protected:
  aad_state_parameters_manager() = default;
  aad_state_parameters_manager(const aad_state_parameters_manager&) = default;
  aad_state_parameters_manager& operator=(const aad_state_parameters_manager&) = default;

  // Adds `value` to the gradient entry of parameter offset + index; contributions sum.
  void update_state_parameters(double value, std::size_t offset, std::size_t index, double* gradient) const {
    gradient[offset + index] += value;
  }
  // Address of the gradient entry of parameter offset + index; a block's entries follow.
  double* get_state_parameters_aad(std::size_t offset, std::size_t index, double* gradient) const {
    return gradient + offset + index;
  }

  // Layout building: reserve(length) hands out the next offset; finish_layout() freezes it.
  // Building twice is refused because it would start from the enlarged size.
  std::size_t reserve_state_parameters(std::size_t length);
  void finish_layout();

 private:
  std::size_t state_parameters_size_ = 0;
  bool layout_built_ = false;
};

}  // namespace tarvex
