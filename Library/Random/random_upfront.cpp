#include "Random/random_upfront.h"

#include <utility>

#include "Core/check.h"

namespace tarvex {

random_upfront::random_upfront(std::shared_ptr<const random_settings> settings)
    : random(settings),
      source_(random_per_step::pseudo_random_source(this->settings().generator_type(), std::move(settings),
                                                    "philox_upfront")) {}

void random_upfront::fill(double* buffer, std::size_t count, std::size_t offset) {
  const random_settings& s = settings();
  const std::uint64_t block = s.number_of_brownians() * s.number_of_paths_per_batch();
  const std::uint64_t size = s.number_of_simulation_dates() * block;
  claim_upfront_fill(buffer, count, offset, size);
  for (std::uint64_t k = 1; k < s.number_of_simulation_dates(); ++k) source_->draw_step(buffer + k * block, k);
  source_->draw_step(buffer, 0);
}

}  // namespace tarvex
