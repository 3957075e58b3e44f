#include "Random/random_per_step.h"

#include <utility>

#include "Core/check.h"
#include "Random/details/kernels.h"
#include "Random/random_mersenne_twister.h"
#include "Random/random_philox.h"
#include "Random/random_threefry.h"

namespace tarvex {

void random_per_step::fill(double* buffer, std::size_t count, std::size_t offset) {
  const random_settings& s = settings();
  const std::uint64_t size = s.number_of_brownians() * s.number_of_paths_per_batch();
  TARVEX_CHECK(count == size, "a per-step fill writes number_of_brownians * number_of_paths_per_batch = ", size,
               " draws, got ", count);
  TARVEX_CHECK(offset == size * s.batch_index(), "the offset of a per-step fill is count * batch_index = ",
               size * s.batch_index(), ", got ", offset);
  TARVEX_CHECK(buffer != nullptr, "the buffer is null");
  TARVEX_CHECK(step_ < random_details::max_step, "a per-step generator draws at most ", random_details::max_step,
               " steps");
  ++step_;
  draw_step(buffer, step_);
}

std::unique_ptr<random_per_step> random_per_step::pseudo_random_source(
    random_type source, std::shared_ptr<const random_settings> settings, const char* role) {
  switch (source) {
    case random_type::philox_upfront:
    case random_type::philox:
      return std::make_unique<random_philox>(std::move(settings));
    case random_type::mersenne_twister:
      return std::make_unique<random_mersenne_twister>(std::move(settings));
    case random_type::threefry:
      return std::make_unique<random_threefry>(std::move(settings));
    default:
      break;
  }
  TARVEX_FAIL("the generator_type behind ", role,
              " must be philox_upfront, philox, mersenne_twister or threefry, got ",
              static_cast<std::int32_t>(source));
}

}  // namespace tarvex
