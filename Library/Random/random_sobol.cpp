#include "Random/random_sobol.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <random>
#include <utility>

#include "Core/check.h"
#include "Random/counter_based_bijection.h"
#include "Random/details/kernels.h"

namespace tarvex {

namespace {

constexpr std::size_t bridge_lanes = 64;

std::size_t checked_dimensions(const random_settings& s) {
  const std::uint64_t d = s.number_of_simulation_dates(), b = s.number_of_brownians();
  const bool fits = d <= sobol_sequence::max_dimension && b <= sobol_sequence::max_dimension / d;
  TARVEX_CHECK(fits, "Sobol draws need number_of_simulation_dates * number_of_brownians dimensions, at most ",
               sobol_sequence::max_dimension, ": dates ", d, ", brownians ", b);
  return static_cast<std::size_t>(d * b);
}

std::uint64_t first_point_of(const random_settings& s) {
  const std::uint64_t p = s.number_of_paths_per_batch(), b = s.batch_index();
  if (!s.full_skip()) return b * p + 1;  // fits: random_settings checked (b + 1) P B D
  TARVEX_CHECK(p <= (std::uint64_t{1} << 62), "full_skip needs number_of_paths_per_batch <= 2^62, got ", p);
  const std::uint64_t block = std::bit_ceil(p);
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  TARVEX_CHECK(b + 2 <= max / block, "with full_skip the batch's Sobol points pass 2^64: batch_index ", b,
               ", block ", block);
  return (b + 1) * block;
}

// One 64-bit word per dimension from the pseudo-random source, the same for every batch.
void draw_shifts(random_type source, std::uint64_t seed, std::uint64_t* out, std::size_t n) {
  const auto lo = [](std::uint64_t x) { return static_cast<std::uint32_t>(x); };
  const auto hi = [](std::uint64_t x) { return static_cast<std::uint32_t>(x >> 32); };
  switch (source) {
    case random_type::philox_upfront:
    case random_type::philox:
      for (std::size_t d = 0; d < n; ++d) {
        const auto w = philox4x32_10({lo(d), hi(d), random_details::shift_step, 0}, {lo(seed), hi(seed)});
        out[d] = std::uint64_t{w[1]} << 32 | w[0];
      }
      return;
    case random_type::threefry:
      for (std::size_t d = 0; d < n; ++d)
        out[d] = threefry4x64_20({d, random_details::shift_step, 0, 0}, {seed, 0, 0, 0})[0];
      return;
    case random_type::mersenne_twister: {
      std::seed_seq seq{lo(seed), hi(seed)};
      std::mt19937_64 engine(seq);
      for (std::size_t d = 0; d < n; ++d) out[d] = engine();
      return;
    }
    default:
      break;
  }
  TARVEX_FAIL("the generator_type behind the Sobol shift must be philox_upfront, philox, mersenne_twister or "
              "threefry, got ",
              static_cast<std::int32_t>(source));
}

}  // namespace

random_sobol::random_sobol(std::shared_ptr<const random_settings> settings, bool brownian_bridge)
    : random(std::move(settings)),
      sequence_(checked_dimensions(this->settings())),
      first_point_(first_point_of(this->settings())),
      shifts_(sequence_.dimensions()),
      bits_(this->settings().number_of_paths_per_batch()) {
  const random_settings& s = this->settings();
  if (s.use_shift()) draw_shifts(s.generator_type(), s.seed(), shifts_.data(), shifts_.size());
  const std::size_t steps = s.number_of_simulation_dates() - 1;
  if (brownian_bridge && steps > 0) {
    bridge_.emplace(steps);
    z_ = vector<double>(steps * bridge_lanes);
    w_ = vector<double>(steps * bridge_lanes);
  }
}

void random_sobol::fill(double* buffer, std::size_t count, std::size_t offset) {
  const random_settings& s = settings();
  const std::size_t paths = s.number_of_paths_per_batch(), factors = s.number_of_brownians();
  const std::size_t steps = s.number_of_simulation_dates() - 1;
  const std::uint64_t size = sequence_.dimensions() * paths;
  claim_upfront_fill(buffer, count, offset, size);

  // Dimension d < steps*B goes to row B + d (block 1 + d / B, factor d % B); the last B
  // dimensions to block 0.
  const auto& k = random_details::kernels();
  for (std::size_t d = 0; d < sequence_.dimensions(); ++d) {
    const std::size_t row = d < steps * factors ? factors + d : d - steps * factors;
    double* out = buffer + row * paths;
    sequence_.coordinates(d, first_point_, paths, shifts_[d], bits_.data());
    k.normals_from_bits(bits_.data(), out, paths);
  }
  if (!bridge_) return;

  // Normals of factor f in bridge order sit in rows B + j B + f, exactly where the
  // increments of step j + 1 go: gather a tile of paths, bridge it, scatter back.
  for (std::size_t f = 0; f < factors; ++f) {
    for (std::size_t p0 = 0; p0 < paths; p0 += bridge_lanes) {
      const std::size_t lanes = std::min(bridge_lanes, paths - p0);
      for (std::size_t j = 0; j < steps; ++j)
        std::copy_n(buffer + ((1 + j) * factors + f) * paths + p0, lanes, z_.data() + j * lanes);
      bridge_->transform(z_.data(), w_.data(), lanes);
      for (std::size_t j = 0; j < steps; ++j)
        std::copy_n(w_.data() + j * lanes, lanes, buffer + ((1 + j) * factors + f) * paths + p0);
    }
  }
}

}  // namespace tarvex
