#include "Core/aad_state_parameters_manager.h"

#include "Core/check.h"

namespace tarvex {

void aad_state_parameters_manager::finalize_aad(double*) const {}

std::size_t aad_state_parameters_manager::reserve_state_parameters(std::size_t length) {
  TARVEX_CHECK(!layout_built_, "state-parameter layout is already built");
  const std::size_t offset = state_parameters_size_;
  state_parameters_size_ += length;
  return offset;
}

void aad_state_parameters_manager::finish_layout() {
  TARVEX_CHECK(!layout_built_, "state-parameter layout is already built");
  layout_built_ = true;
}

}  // namespace tarvex
