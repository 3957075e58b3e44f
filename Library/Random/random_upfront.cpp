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
  TARVEX_CHECK(count == size,
               "an up-front fill writes number_of_simulation_dates * number_of_brownians * "
               "number_of_paths_per_batch = ",
               size, " draws, got ", count);
  TARVEX_CHECK(offset == size * s.batch_index(), "the offset of an up-front fill is count * batch_index = ",
               size * s.batch_index(), ", got ", offset);
  TARVEX_CHECK(buffer != nullptr, "the buffer is null");
  TARVEX_CHECK_TEXT(!filled_, "up-front draws are filled once: this generator has already filled its buffer");
  filled_ = true;
  for (std::uint64_t k = 1; k < s.number_of_simulation_dates(); ++k) source_->draw_step(buffer + k * block, k);
  source_->draw_step(buffer, 0);
}

}  // namespace tarvex
