#pragma once
#include <cstddef>
#include <memory>

#include "Random/random_settings.h"
#include "Random/random_type.h"

namespace tarvex {

// A generator of standard normal draws for one batch of paths, as the random manager
// drives it. With P paths per batch, B brownians, D simulation dates and batch b:
//
// - per-step types (zero, philox, mersenne_twister, threefry): each call
//   fill(buffer, B*P, B*P*b) writes the draws of the next step (the first call is step
//   1) as a row-major B x P matrix: element f*P + p is factor f on global path b*P + p.
// - up-front types (philox_upfront, sobol, sobol_brownian_bridge): one call
//   fill(buffer, D*B*P, D*B*P*b) writes D blocks of B x P; block k = 1 ... D-1 holds
//   the draws of step k, block 0 (the consumer's output area) genuine draws as well,
//   so that every row can be normalised when the consumer orthogonalises them.
//
// Counts and offsets that do not follow this contract are refused.
class random {
 public:
  virtual ~random() = default;
  random(const random&) = delete;
  random& operator=(const random&) = delete;

  // Writes `count` draws at `buffer` as described above; allocates nothing.
  virtual void fill(double* buffer, std::size_t count, std::size_t offset) = 0;

  const random_settings& settings() const { return *settings_; }

  // A generator of `type` for `settings`; throws tarvex::Error for an unknown type,
  // missing settings or settings the generator cannot serve.
  static std::shared_ptr<random> random_generator_factory(random_type type,
                                                          const std::shared_ptr<const random_settings>& settings);

  // Whether generators of `type` draw all steps in one up-front fill; throws for an
  // unknown type.
  static bool generate_upfront_onley(random_type type);

 protected:
  // Throws when settings is null.
  explicit random(std::shared_ptr<const random_settings> settings);

  // The up-front generators' fill contract: `count` must be `size` (D*B*P), `offset`
  // size * batch_index, the buffer set and the generator not yet filled; marks it filled.
  void claim_upfront_fill(const double* buffer, std::size_t count, std::size_t offset, std::uint64_t size);

 private:
  std::shared_ptr<const random_settings> settings_;
  bool upfront_filled_ = false;
};

}  // namespace tarvex
