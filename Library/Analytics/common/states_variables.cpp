#include "Analytics/common/states_variables.h"

#include <cstring>

#include "Core/check.h"
#include "Core/cpu_allocator.h"

namespace tarvex {

states_variables::states_variables(const std::vector<std::size_t>& sizes, std::size_t paths)
    : sizes_(sizes), paths_(paths), offsets_(sizes.size()) {
  std::size_t total = 0;
  for (std::size_t d = 0; d < sizes_.size(); ++d) {
    offsets_[d] = total;
    total += 2 * sizes_[d] * paths_;
  }
  if (total > 0) {
    buffer_ = static_cast<double*>(cpu_allocator::allocate(total * sizeof(double)));
    std::memset(buffer_, 0, total * sizeof(double));
  }
}

states_variables::~states_variables() { cpu_allocator::free(buffer_); }

matrix<double> states_variables::previous(std::size_t d) {
  TARVEX_CHECK(d < sizes_.size(), "diffusion ", d, " of ", sizes_.size());
  return matrix<double>::view(buffer_ + offsets_[d], sizes_[d], paths_);
}

matrix<double> states_variables::current(std::size_t d) {
  TARVEX_CHECK(d < sizes_.size(), "diffusion ", d, " of ", sizes_.size());
  return matrix<double>::view(buffer_ + offsets_[d] + sizes_[d] * paths_, sizes_[d], paths_);
}

}  // namespace tarvex
