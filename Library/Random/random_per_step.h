#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Random/random.h"

namespace tarvex {

// Base of the generators that draw one step per fill: checks the consumer's counts and
// numbers the steps 1, 2, ...
class random_per_step : public random {
 public:
  // Checks count == B*P and offset == B*P*batch_index, then draws the next step.
  void fill(double* buffer, std::size_t count, std::size_t offset) final;

  // Writes the B x P draws of `step` (step <= 2^32 - 2). Counter-based generators
  // compute any step directly; mersenne_twister ignores `step` and continues its stream.
  virtual void draw_step(double* out, std::uint64_t step) = 0;

  // Number of fills so far.
  std::uint64_t steps_drawn() const { return step_; }

  // A per-step generator of the pseudo-random `source` (philox_upfront and philox both
  // mean Philox); throws for any other code, naming `role` in the message.
  static std::unique_ptr<random_per_step> pseudo_random_source(random_type source,
                                                                std::shared_ptr<const random_settings> settings,
                                                                const char* role);

 protected:
  using random::random;

 private:
  std::uint64_t step_ = 0;
};

}  // namespace tarvex
