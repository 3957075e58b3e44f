#include "Random/random_zero.h"

#include <algorithm>
#include <utility>

namespace tarvex {

random_zero::random_zero(std::shared_ptr<const random_settings> settings) : random_per_step(std::move(settings)) {}

void random_zero::draw_step(double* out, std::uint64_t) {
  std::fill_n(out, settings().number_of_brownians() * settings().number_of_paths_per_batch(), 0.0);
}

}  // namespace tarvex
