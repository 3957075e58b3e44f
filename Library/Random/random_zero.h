#pragma once
#include <memory>

#include "Random/random_per_step.h"

namespace tarvex {

// random_type::zero: every draw is 0, for runs without noise.
class random_zero final : public random_per_step {
 public:
  explicit random_zero(std::shared_ptr<const random_settings> settings);
  void draw_step(double* out, std::uint64_t step) override;
};

}  // namespace tarvex
