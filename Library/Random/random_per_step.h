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

  // The counter-based draw of one step: for each factor, `uniforms(first global path,
  // factor, n, out)` writes n uniforms of consecutive paths, turned into normals in
  // place. Chunks of paths keep the uniforms in L1 between generation and inversion.
  template <class Uniforms>
  void draw_by_chunks(double* out, Uniforms&& uniforms) const;

 private:
  static void inverse_normal_in_place(double* values, std::size_t n);

  std::uint64_t step_ = 0;
};

template <class Uniforms>
void random_per_step::draw_by_chunks(double* out, Uniforms&& uniforms) const {
  const random_settings& s = settings();
  const std::size_t paths = s.number_of_paths_per_batch(), factors = s.number_of_brownians();
  const std::uint64_t first_path = s.batch_index() * paths;
  constexpr std::size_t chunk = 1024;
  for (std::size_t f = 0; f < factors; ++f) {
    double* row = out + f * paths;
    for (std::size_t p0 = 0; p0 < paths; p0 += chunk) {
      const std::size_t n = paths - p0 < chunk ? paths - p0 : chunk;
      uniforms(first_path + p0, f, n, row + p0);
      inverse_normal_in_place(row + p0, n);
    }
  }
}

}  // namespace tarvex
