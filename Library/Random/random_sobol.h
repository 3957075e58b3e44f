#pragma once
#include <cstdint>
#include <memory>
#include <optional>

#include "Random/brownian_bridge.h"
#include "Random/random.h"
#include "Random/sobol_sequence.h"
#include "Vectorization/vector.h"

namespace tarvex {

// random_type::sobol and sobol_brownian_bridge: path p of batch b is Sobol point
// b*P + p + 1 (the origin, point 0, is skipped: its normal would be -inf), or point
// (b + 1) 2^m + p with full_skip (settings). A point has D*B dimensions:
// - sobol: dimension (k - 1) B + f drives factor f at step k;
// - sobol_brownian_bridge: dimension j B + f is the j-th normal, in bridge order, of
//   factor f's Brownian bridge over the D - 1 steps (unit steps: increments i.i.d.
//   N(0, 1) whatever the dates), so the first dimensions fix the coarsest points;
// - the last B dimensions fill block 0.
// Coordinates are optionally XOR-ed with a digital shift, then mapped to (k + 1/2)
// 2^-52 from their top 52 bits and to normals by AS241. D*B is at most
// sobol_sequence::max_dimension.
class random_sobol final : public random {
 public:
  // Throws beyond the dimension limit, or when use_shift is set and generator_type is
  // not a pseudo-random source.
  random_sobol(std::shared_ptr<const random_settings> settings, bool brownian_bridge);

  // Checks count == D*B*P and offset == D*B*P*batch_index; a second call is refused.
  void fill(double* buffer, std::size_t count, std::size_t offset) override;

  // Index of the Sobol point behind path 0 of this batch.
  std::uint64_t first_point() const { return first_point_; }

  // The digital shift of `dimension` (0 without use_shift).
  std::uint64_t shift(std::size_t dimension) const { return shifts_[dimension]; }

 private:
  sobol_sequence sequence_;
  std::optional<brownian_bridge> bridge_;
  std::uint64_t first_point_ = 0;
  vector<std::uint64_t> shifts_, bits_;
  vector<double> z_, w_;
};

}  // namespace tarvex
