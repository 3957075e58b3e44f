#pragma once
#include <cstdint>

namespace tarvex {

// Which generator a random manager builds. The codes are part of the file format of
// every serialized random configuration: never renumber them.
//
// On the per-step path the random manager asks only codes 2, 3 and 4 to fill; with any
// other code a per-step simulation sees zeros. Codes 1, 5 and 6 draw every step at
// construction (random::generate_upfront_onley).
enum class random_type : std::int32_t {
  // No draws: fill writes zeros. For deterministic runs (all noise switched off).
  zero = 0,
  // All steps drawn at construction from the pseudo-random source named by the
  // settings' generator_type (Philox by default); the manager may orthogonalise them.
  philox_upfront = 1,
  // Philox4x32-10, counter-based: a draw is a pure function of (seed, global path,
  // step, factor), so batches are bit-for-bit slices of one large run.
  philox = 2,
  // std::mt19937_64, one stream per batch seeded from (seed, batch_index): batches are
  // independent but are not slices of one large run.
  mersenne_twister = 3,
  // Threefry4x64-20, counter-based, with the same batch property as philox.
  threefry = 4,
  // Sobol points (Joe-Kuo direction numbers) drawn up front, one point per path,
  // dimensions step by step.
  sobol = 5,
  // Sobol points drawn up front, mapped to each factor's path by a Brownian bridge so
  // that the first dimensions fix the coarsest points of the path.
  sobol_brownian_bridge = 6,
};

}  // namespace tarvex
