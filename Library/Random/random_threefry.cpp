#include "Random/random_threefry.h"

#include <algorithm>
#include <utility>

#include "Random/details/kernels.h"

namespace tarvex {

random_threefry::random_threefry(std::shared_ptr<const random_settings> settings)
    : random_per_step(std::move(settings)) {}

void random_threefry::draw_step(double* out, std::uint64_t step) {
  const auto& k = random_details::kernels();
  const random_settings& s = settings();
  const std::size_t paths = s.number_of_paths_per_batch(), factors = s.number_of_brownians();
  const std::uint64_t first_path = s.batch_index() * paths;
  constexpr std::size_t chunk = 1024;
  for (std::size_t f = 0; f < factors; ++f) {
    double* row = out + f * paths;
    for (std::size_t p0 = 0; p0 < paths; p0 += chunk) {
      const std::size_t n = std::min(chunk, paths - p0);
      k.threefry(s.seed(), first_path + p0, step, f, n, row + p0);
      k.inverse_normal(row + p0, row + p0, n);
    }
  }
}

}  // namespace tarvex
