#include "Random/random.h"

#include <utility>

#include "Core/check.h"
#include "Random/random_mersenne_twister.h"
#include "Random/random_philox.h"
#include "Random/random_sobol.h"
#include "Random/random_threefry.h"
#include "Random/random_upfront.h"
#include "Random/random_zero.h"

namespace tarvex {

random::random(std::shared_ptr<const random_settings> settings) : settings_(std::move(settings)) {
  TARVEX_CHECK_TEXT(settings_ != nullptr, "random settings are missing");
}

void random::claim_upfront_fill(const double* buffer, std::size_t count, std::size_t offset, std::uint64_t size) {
  const random_settings& s = settings();
  TARVEX_CHECK(count == size,
               "an up-front fill writes number_of_simulation_dates * number_of_brownians * "
               "number_of_paths_per_batch = ",
               size, " draws, got ", count);
  TARVEX_CHECK(offset == size * s.batch_index(), "the offset of an up-front fill is count * batch_index = ",
               size * s.batch_index(), ", got ", offset);
  TARVEX_CHECK(buffer != nullptr, "the buffer is null");
  TARVEX_CHECK_TEXT(!upfront_filled_,
                    "up-front draws are filled once: this generator has already filled its buffer");
  upfront_filled_ = true;
}

std::shared_ptr<random> random::random_generator_factory(random_type type,
                                                         const std::shared_ptr<const random_settings>& settings) {
  switch (type) {
    case random_type::zero:
      return std::make_shared<random_zero>(settings);
    case random_type::philox_upfront:
      return std::make_shared<random_upfront>(settings);
    case random_type::philox:
      return std::make_shared<random_philox>(settings);
    case random_type::mersenne_twister:
      return std::make_shared<random_mersenne_twister>(settings);
    case random_type::threefry:
      return std::make_shared<random_threefry>(settings);
    case random_type::sobol:
      return std::make_shared<random_sobol>(settings, false);
    case random_type::sobol_brownian_bridge:
      return std::make_shared<random_sobol>(settings, true);
  }
  TARVEX_FAIL("unknown random_type ", static_cast<std::int32_t>(type));
}

bool random::generate_upfront_onley(random_type type) {
  switch (type) {
    case random_type::zero:
    case random_type::philox:
    case random_type::mersenne_twister:
    case random_type::threefry:
      return false;
    case random_type::philox_upfront:
    case random_type::sobol:
    case random_type::sobol_brownian_bridge:
      return true;
  }
  TARVEX_FAIL("unknown random_type ", static_cast<std::int32_t>(type));
}

}  // namespace tarvex
