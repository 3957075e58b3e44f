#pragma once
// Settings and draw helpers shared by the Random test files.
#include <cstdint>
#include <memory>
#include <vector>

#include "Random/random.h"
#include "Random/random_settings.h"

namespace tarvex::testing {

inline std::shared_ptr<const random_settings> settings_of(std::uint64_t seed, std::uint64_t paths,
                                                          std::uint64_t dates, std::uint64_t brownians,
                                                          std::uint64_t batch = 0,
                                                          random_type source = random_type::philox,
                                                          bool shift = false, bool full_skip = false) {
  return std::make_shared<const random_settings>(seed, paths, dates, brownians, batch, full_skip, source, shift,
                                                 device_type::cpu, false);
}

// `steps` per-step fills of `type` as the random manager makes them, concatenated.
inline std::vector<double> per_step_draws(random_type type, const std::shared_ptr<const random_settings>& s,
                                          std::size_t steps) {
  auto g = random::random_generator_factory(type, s);
  const std::size_t size = s->number_of_brownians() * s->number_of_paths_per_batch();
  std::vector<double> all(steps * size);
  for (std::size_t k = 0; k < steps; ++k) g->fill(all.data() + k * size, size, size * s->batch_index());
  return all;
}

// The one up-front fill of `type`.
inline std::vector<double> upfront_draws(random_type type, const std::shared_ptr<const random_settings>& s) {
  auto g = random::random_generator_factory(type, s);
  const std::size_t size =
      s->number_of_simulation_dates() * s->number_of_brownians() * s->number_of_paths_per_batch();
  std::vector<double> all(size);
  g->fill(all.data(), size, size * s->batch_index());
  return all;
}

// Element [f][p] of block k of D blocks of B x P.
inline double at(const std::vector<double>& draws, std::size_t paths, std::size_t brownians, std::size_t k,
                 std::size_t f, std::size_t p) {
  return draws[(k * brownians + f) * paths + p];
}

// (k + 1/2) 2^-52 from the top 52 bits, the mapping documented by the generators.
inline double uniform_of(std::uint64_t w) { return (static_cast<double>(w >> 12) + 0.5) * 0x1p-52; }

}  // namespace tarvex::testing
