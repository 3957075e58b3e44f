#include "Random/random_philox.h"

#include <utility>

#include "Core/check.h"
#include "Random/details/kernels.h"

namespace tarvex {

random_philox::random_philox(std::shared_ptr<const random_settings> settings)
    : random_per_step(std::move(settings)) {
  // The factor is one 32-bit counter word.
  TARVEX_CHECK(this->settings().number_of_brownians() <= 0xffffffffu, "philox draws at most 2^32 - 1 brownians, got ",
               this->settings().number_of_brownians());
}

void random_philox::draw_step(double* out, std::uint64_t step) {
  const auto& k = random_details::kernels();
  const std::uint64_t seed = settings().seed();
  draw_rows(out, [&](std::uint64_t first, std::size_t f, std::size_t n, double* row) {
    k.philox_normals(seed, first, static_cast<std::uint32_t>(step), static_cast<std::uint32_t>(f), n, row);
  });
}

}  // namespace tarvex
