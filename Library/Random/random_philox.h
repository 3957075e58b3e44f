#pragma once
#include <memory>

#include "Random/random_per_step.h"

namespace tarvex {

// random_type::philox. Factor f of global path g at step k is built from Philox4x32-10
// with key {seed lo, seed hi} and counter {lo, hi of g / 2, k, f}: output words
// (2 (g % 2), 2 (g % 2) + 1), high word second, give 64 bits whose top 52 make the
// uniform (k + 1/2) 2^-52, and AS241 the normal. One call thus serves two paths of a
// factor, wasting nothing for odd factor counts. A draw depends on nothing else, so a
// batch reproduces its slice of one large run bit for bit.
class random_philox final : public random_per_step {
 public:
  explicit random_philox(std::shared_ptr<const random_settings> settings);
  void draw_step(double* out, std::uint64_t step) override;
};

}  // namespace tarvex
