#pragma once
#include <cstdint>
#include <memory>
#include <random>

#include "Random/random_per_step.h"
#include "Vectorization/vector.h"

namespace tarvex {

// random_type::mersenne_twister: std::mt19937_64 seeded by
// std::seed_seq{seed lo, seed hi, batch_index lo, batch_index hi} (32-bit halves).
// Each step takes the next B*P outputs in the order of the B x P matrix, row by row;
// the top 52 bits of an output give the uniform (k + 1/2) 2^-52 and AS241 the normal.
//
// Batches are independent streams, not slices of one large run: the twister cannot
// jump ahead cheaply, and a batch does not know how many paths the whole run has.
class random_mersenne_twister final : public random_per_step {
 public:
  explicit random_mersenne_twister(std::shared_ptr<const random_settings> settings);
  void draw_step(double* out, std::uint64_t step) override;

 private:
  std::mt19937_64 engine_;
  vector<std::uint64_t> bits_;
};

}  // namespace tarvex
