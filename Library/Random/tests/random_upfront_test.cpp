#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Core/tests/testing.h"
#include "Random/random_philox.h"
#include "Random/tests/random_test_support.h"

namespace tarvex {
namespace {

using testing::error_text;
using testing::per_step_draws;
using testing::settings_of;
using testing::upfront_draws;

// Blocks 1 ... D-1 of the up-front run are the per-step fills 1 ... D-1 of its source;
// block 0 is one more step (step 0 for Philox and Threefry, the D-th fill of the twister).
TEST(random_upfront, blocks_equal_the_per_step_draws_of_the_source) {
  const std::size_t paths = 301, factors = 3, dates = 5, block = paths * factors;
  for (auto source : {random_type::philox_upfront, random_type::philox, random_type::threefry,
                      random_type::mersenne_twister}) {
    const auto s = settings_of(8, paths, dates, factors, 2, source);
    const auto all = upfront_draws(random_type::philox_upfront, s);
    const auto per_step_type = source == random_type::philox_upfront ? random_type::philox : source;
    const auto steps = per_step_draws(per_step_type, s, dates);
    for (std::size_t k = 1; k < dates; ++k)
      for (std::size_t i = 0; i < block; ++i)
        ASSERT_EQ(all[k * block + i], steps[(k - 1) * block + i]) << int(source) << " block " << k;
    if (source == random_type::mersenne_twister) {
      for (std::size_t i = 0; i < block; ++i) ASSERT_EQ(all[i], steps[(dates - 1) * block + i]);
    } else if (source != random_type::threefry) {
      std::vector<double> step0(block);
      random_philox(s).draw_step(step0.data(), 0);
      for (std::size_t i = 0; i < block; ++i) ASSERT_EQ(all[i], step0[i]);
    }
  }
}

TEST(random_upfront, batches_are_slices_and_misuse_is_refused) {
  const std::size_t factors = 2, dates = 3;
  const auto whole = upfront_draws(random_type::philox_upfront, settings_of(4, 400, dates, factors));
  const auto part = upfront_draws(random_type::philox_upfront, settings_of(4, 100, dates, factors, 3));
  for (std::size_t row = 0; row < dates * factors; ++row)
    for (std::size_t p = 0; p < 100; ++p) ASSERT_EQ(part[row * 100 + p], whole[row * 400 + 300 + p]);

  const auto s = settings_of(4, 100, dates, factors, 3);
  auto g = random::random_generator_factory(random_type::philox_upfront, s);
  std::vector<double> buffer(600);
  EXPECT_EQ(error_text([&] { g->fill(buffer.data(), 200, 600); }),
            "Expected count == size to be true, but got false.  an up-front fill writes number_of_simulation_dates "
            "* number_of_brownians * number_of_paths_per_batch = 600 draws, got 200");
  EXPECT_EQ(error_text([&] { g->fill(buffer.data(), 600, 0); }),
            "Expected offset == size * s.batch_index() to be true, but got false.  the offset of an up-front fill "
            "is count * batch_index = 1800, got 0");
  g->fill(buffer.data(), 600, 1800);
  EXPECT_EQ(error_text([&] { g->fill(buffer.data(), 600, 1800); }),
            "up-front draws are filled once: this generator has already filled its buffer");
  EXPECT_EQ(error_text([] {
              random::random_generator_factory(random_type::philox_upfront,
                                               settings_of(4, 100, 3, 2, 0, random_type::sobol));
            }),
            "the generator_type behind philox_upfront must be philox_upfront, philox, mersenne_twister or "
            "threefry, got 5");
}

}  // namespace
}  // namespace tarvex
