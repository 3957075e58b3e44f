#include "Random/random_threefry.h"

#include <utility>

#include "Random/details/kernels.h"

namespace tarvex {

random_threefry::random_threefry(std::shared_ptr<const random_settings> settings)
    : random_per_step(std::move(settings)) {}

void random_threefry::draw_step(double* out, std::uint64_t step) {
  const auto& k = random_details::kernels();
  const std::uint64_t seed = settings().seed();
  draw_rows(out, [&](std::uint64_t first, std::size_t f, std::size_t n, double* row) {
    k.threefry_normals(seed, first, step, f, n, row);
  });
}

}  // namespace tarvex
