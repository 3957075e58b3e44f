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
