#pragma once
#include <memory>

#include "Random/random_per_step.h"

namespace tarvex {

// random_type::threefry. Factor f of global path g at step k is output word g % 4 of
// Threefry4x64-20 with key {seed, 0, 0, 0} and counter {g / 4, k, f, 0}, its top 52
// bits a uniform (k + 1/2) 2^-52 and AS241 the normal; batches are slices of one run.
class random_threefry final : public random_per_step {
 public:
  explicit random_threefry(std::shared_ptr<const random_settings> settings);
  void draw_step(double* out, std::uint64_t step) override;
};

}  // namespace tarvex
