#include "Random/random_settings.h"

#include <limits>

#include "Core/check.h"

namespace tarvex {

random_settings::random_settings(std::uint64_t seed, std::uint64_t number_of_paths_per_batch,
                                 std::uint64_t number_of_simulation_dates, std::uint64_t number_of_brownians,
                                 std::uint64_t batch_index, bool full_skip, random_type generator_type,
                                 bool use_shift, device_type type, bool orthogonalization)
    : seed_(seed),
      number_of_paths_per_batch_(number_of_paths_per_batch),
      number_of_simulation_dates_(number_of_simulation_dates),
      number_of_brownians_(number_of_brownians),
      batch_index_(batch_index),
      full_skip_(full_skip),
      generator_type_(generator_type),
      use_shift_(use_shift),
      type_(type),
      orthogonalization_(orthogonalization) {
  initialize();
}

void random_settings::initialize() {
  TARVEX_CHECK(number_of_paths_per_batch_ > 0, "number_of_paths_per_batch must be positive");
  TARVEX_CHECK(number_of_simulation_dates_ > 0, "number_of_simulation_dates must be positive");
  TARVEX_CHECK(number_of_brownians_ > 0, "number_of_brownians must be positive");
  const auto code = static_cast<std::int32_t>(generator_type_);
  TARVEX_CHECK(code >= 0 && code <= 6, "unknown generator_type ", code);
  const auto device = static_cast<std::int16_t>(type_);
  TARVEX_CHECK(device == 0 || device == 1, "unknown device_type ", device);
  TARVEX_CHECK_TEXT(type_ != device_type::gpu,
                    "device_type gpu is not supported: this build has no device generators");

  // The manager asks for D*B*P doubles at offset D*B*P*b; both must be exact.
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t p = number_of_paths_per_batch_, d = number_of_simulation_dates_,
                      b = number_of_brownians_;
  const bool fits = b <= max / p && d <= max / (b * p) && batch_index_ < max / (d * b * p);
  TARVEX_CHECK(fits, "the batch does not fit in 64-bit offsets: paths ", p, ", dates ", d, ", brownians ", b,
               ", batch_index ", batch_index_);
}

}  // namespace tarvex
