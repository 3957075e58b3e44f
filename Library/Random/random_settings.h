#pragma once
#include <cstdint>

#include "Random/device_type.h"
#include "Random/random_type.h"

namespace tarvex::serialization {
struct object_io;
}

namespace tarvex {

// Validated inputs of one batch of draws. P = number_of_paths_per_batch,
// B = number_of_brownians, D = number_of_simulation_dates, b = batch_index.
//
// - seed: the key of the counter-based generators and the seed of the others.
// - batch_index: places the batch in the sequence: global paths b*P ... (b+1)*P - 1.
// - full_skip: Sobol only. When set, batch b starts at the aligned Sobol block
//   (b + 1) * 2^m, 2^m the smallest power of two >= P, instead of at point b*P + 1;
//   with P a power of two every batch is then a whole (t, m, s)-net. Ignored by the
//   pseudo-random types.
// - generator_type: the pseudo-random source behind philox_upfront and behind the
//   random shift of Sobol (philox_upfront or philox: Philox; mersenne_twister;
//   threefry). Consulted only there, and then it must be one of those four codes.
// - use_shift: Sobol only: XOR every coordinate with a random 64-bit digital shift per
//   dimension drawn from generator_type and seed (the same for all batches). A digital
//   shift keeps the net structure that an additive Cranley-Patterson shift would break.
// - type: the device; only cpu is supported by this build.
// - orthogonalization: read by the random manager, which orthogonalises the up-front
//   draws itself; the generators ignore it.
class random_settings {
 public:
  // Throws tarvex::Error when a count is zero, a code is unknown, the device is not the
  // cpu or the batch's buffer offsets do not fit in 64 bits.
  random_settings(std::uint64_t seed, std::uint64_t number_of_paths_per_batch,
                  std::uint64_t number_of_simulation_dates, std::uint64_t number_of_brownians,
                  std::uint64_t batch_index, bool full_skip, random_type generator_type, bool use_shift,
                  device_type type, bool orthogonalization);

  std::uint64_t seed() const { return seed_; }
  std::uint64_t number_of_paths_per_batch() const { return number_of_paths_per_batch_; }
  std::uint64_t number_of_simulation_dates() const { return number_of_simulation_dates_; }
  std::uint64_t number_of_brownians() const { return number_of_brownians_; }
  std::uint64_t batch_index() const { return batch_index_; }
  bool full_skip() const { return full_skip_; }
  random_type generator_type() const { return generator_type_; }
  bool use_shift() const { return use_shift_; }
  device_type type() const { return type_; }
  bool orthogonalization() const { return orthogonalization_; }

  // The serialized fields, in file order.
  template <class Self, class W>
  static void fields(Self& s, W& w) {
    w("seed", s.seed_);
    w("number_of_paths_per_batch", s.number_of_paths_per_batch_);
    w("number_of_simulation_dates", s.number_of_simulation_dates_);
    w("number_of_brownians", s.number_of_brownians_);
    w("batch_index", s.batch_index_);
    w("full_skip", s.full_skip_);
    w("generator_type", s.generator_type_);
    w("use_shift", s.use_shift_);
    w("type", s.type_);
    w("orthogonalization", s.orthogonalization_);
  }

 private:
  friend struct ::tarvex::serialization::object_io;
  random_settings() = default;
  void initialize();

  std::uint64_t seed_ = 0;
  std::uint64_t number_of_paths_per_batch_ = 1;
  std::uint64_t number_of_simulation_dates_ = 1;
  std::uint64_t number_of_brownians_ = 1;
  std::uint64_t batch_index_ = 0;
  bool full_skip_ = false;
  random_type generator_type_ = random_type::philox;
  bool use_shift_ = false;
  device_type type_ = device_type::cpu;
  bool orthogonalization_ = false;
};

}  // namespace tarvex
