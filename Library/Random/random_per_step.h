#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Random/random.h"
#include "Random/random_settings.h"

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

  // The counter-based draw of one step: for each factor, `normals(first global path,
  // factor, n, out)` writes the normals of n consecutive paths (the kernels generate and
  // invert block by block in L1).
  template <class Normals>
  void draw_rows(double* out, Normals&& normals) const;

 private:
  std::uint64_t step_ = 0;
};

template <class Normals>
void random_per_step::draw_rows(double* out, Normals&& normals) const {
  const random_settings& s = settings();
  const std::size_t paths = s.number_of_paths_per_batch(), factors = s.number_of_brownians();
  const std::uint64_t first_path = s.batch_index() * paths;
  for (std::size_t f = 0; f < factors; ++f) normals(first_path, f, paths, out + f * paths);
}

}  // namespace tarvex
