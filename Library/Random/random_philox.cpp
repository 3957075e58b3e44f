#include "Random/random_philox.h"

#include <algorithm>
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
  const random_settings& s = settings();
  const std::size_t paths = s.number_of_paths_per_batch(), factors = s.number_of_brownians();
  const std::uint64_t first_path = s.batch_index() * paths;
  // Chunks of paths keep the uniforms in L1 between generation and transformation.
  constexpr std::size_t chunk = 1024;
  for (std::size_t f = 0; f < factors; ++f) {
    double* row = out + f * paths;
    for (std::size_t p0 = 0; p0 < paths; p0 += chunk) {
      const std::size_t n = std::min(chunk, paths - p0);
      k.philox(s.seed(), first_path + p0, static_cast<std::uint32_t>(step), static_cast<std::uint32_t>(f), n,
               row + p0);
      k.inverse_normal(row + p0, row + p0, n);
    }
  }
}

}  // namespace tarvex
