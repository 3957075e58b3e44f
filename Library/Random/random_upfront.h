#pragma once
#include <memory>

#include "Random/random_per_step.h"

namespace tarvex {

// random_type::philox_upfront: all D blocks drawn in one fill from the per-step
// generator named by generator_type (Philox for philox_upfront or philox). Block
// k = 1 ... D-1 equals what that generator returns for step k, so the up-front and
// per-step runs see the same draws; block 0 is one more step (step 0 of the
// counter-based sources, the D-th fill of mersenne_twister).
class random_upfront final : public random {
 public:
  // Throws when generator_type is not a pseudo-random source.
  explicit random_upfront(std::shared_ptr<const random_settings> settings);

  // Checks count == D*B*P and offset == D*B*P*batch_index; a second call is refused.
  void fill(double* buffer, std::size_t count, std::size_t offset) override;

 private:
  std::unique_ptr<random_per_step> source_;
};

}  // namespace tarvex
