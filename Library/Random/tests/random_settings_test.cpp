#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Random/random_settings.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;

random_settings make(std::uint64_t paths, std::uint64_t dates, std::uint64_t brownians, std::uint64_t batch = 0,
                     random_type source = random_type::philox, device_type device = device_type::cpu) {
  return random_settings(42, paths, dates, brownians, batch, false, source, false, device, false);
}

// Records the keys a serializer sees and the values behind them as text.
struct recorder {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  template <class T>
  void operator()(const char* key, const T& value) {
    keys.emplace_back(key);
    if constexpr (std::is_enum_v<T>)
      values.push_back(std::to_string(static_cast<long long>(value)));
    else
      values.push_back(std::to_string(value));
  }
};

TEST(random_settings, field_walk_keeps_the_file_order) {
  const random_settings s(7, 1000, 12, 3, 5, true, random_type::threefry, true, device_type::cpu, true);
  recorder r;
  random_settings::fields(s, r);
  EXPECT_EQ(r.keys, (std::vector<std::string>{"seed", "number_of_paths_per_batch", "number_of_simulation_dates",
                                              "number_of_brownians", "batch_index", "full_skip", "generator_type",
                                              "use_shift", "type", "orthogonalization"}));
  EXPECT_EQ(r.values, (std::vector<std::string>{"7", "1000", "12", "3", "5", "1", "4", "1", "0", "1"}));
}

TEST(random_settings, invalid_inputs_are_refused_with_exact_texts) {
  EXPECT_EQ(error_text([] { make(0, 2, 1); }),
            "Expected number_of_paths_per_batch_ > 0 to be true, but got false.  "
            "number_of_paths_per_batch must be positive");
  EXPECT_EQ(error_text([] { make(10, 0, 1); }),
            "Expected number_of_simulation_dates_ > 0 to be true, but got false.  "
            "number_of_simulation_dates must be positive");
  EXPECT_EQ(error_text([] { make(10, 2, 0); }),
            "Expected number_of_brownians_ > 0 to be true, but got false.  number_of_brownians must be positive");
  EXPECT_EQ(error_text([] { make(10, 2, 1, 0, static_cast<random_type>(7)); }),
            "Expected code >= 0 && code <= 6 to be true, but got false.  unknown generator_type 7");
  EXPECT_EQ(error_text([] { make(10, 2, 1, 0, random_type::philox, device_type::gpu); }),
            "device_type gpu is not supported: this build has no device generators");
  EXPECT_EQ(error_text([] { make(10, 2, 1, 0, random_type::philox, static_cast<device_type>(-3)); }),
            "Expected device == 0 || device == 1 to be true, but got false.  unknown device_type -3");
  // The end of the batch's buffer, D*B*P*(b + 1), must not wrap: with D*B*P = 2^32 the
  // last batch is b = 2^32 - 2.
  EXPECT_EQ(error_text([] { make(1u << 16, 1u << 8, 1u << 8, 0xfffffffeULL); }), "no error");
  EXPECT_EQ(error_text([] { make(1u << 16, 1u << 8, 1u << 8, 0xffffffffULL); }),
            "Expected fits to be true, but got false.  the batch does not fit in 64-bit offsets: paths 65536, "
            "dates 256, brownians 256, batch_index 4294967295");
}

}  // namespace
}  // namespace tarvex
