#include "Random/random_mersenne_twister.h"

#include <algorithm>
#include <utility>

#include "Random/details/kernels.h"

namespace tarvex {

namespace {
constexpr std::size_t chunk = 1024;

std::mt19937_64 seeded(const random_settings& s) {
  const auto lo = [](std::uint64_t x) { return static_cast<std::uint32_t>(x); };
  const auto hi = [](std::uint64_t x) { return static_cast<std::uint32_t>(x >> 32); };
  std::seed_seq seq{lo(s.seed()), hi(s.seed()), lo(s.batch_index()), hi(s.batch_index())};
  return std::mt19937_64(seq);
}
}  // namespace

random_mersenne_twister::random_mersenne_twister(std::shared_ptr<const random_settings> settings)
    : random_per_step(std::move(settings)), engine_(seeded(this->settings())), bits_(chunk) {}

void random_mersenne_twister::draw_step(double* out, std::uint64_t) {
  const auto& k = random_details::kernels();
  const std::size_t n = settings().number_of_brownians() * settings().number_of_paths_per_batch();
  for (std::size_t i0 = 0; i0 < n; i0 += chunk) {
    const std::size_t m = std::min(chunk, n - i0);
    for (std::size_t i = 0; i < m; ++i) bits_[i] = engine_();
    k.normals_from_bits(bits_.data(), out + i0, m);
  }
}

}  // namespace tarvex
