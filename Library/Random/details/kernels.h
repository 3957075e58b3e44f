#pragma once
// Array kernels behind the generators, compiled once per instruction set. Internal to
// the Random library.
#include <cstddef>
#include <cstdint>

#include "Vectorization/vectorized_math.h"

namespace tarvex::random_details {

// Counter words reserved for the random shift of Sobol points: no per-step draw ever
// uses this step, so the shift is independent of every draw.
constexpr std::uint32_t shift_step = 0xffffffffu;

// Largest step a counter-based generator draws (the step is one 32-bit counter word).
constexpr std::uint64_t max_step = shift_step - 1;

struct kernel_table {
  // out[i] = uniform of path path0 + i: Philox4x32-10 with key {seed lo, seed hi} and
  // counter {lo, hi of g / 2, step, word3}, words 2 (g % 2) and 2 (g % 2) + 1.
  void (*philox)(std::uint64_t seed, std::uint64_t path0, std::uint32_t step, std::uint32_t word3,
                 std::size_t n, double* out);
  // out[i] = uniform of path g = path0 + i: word g % 4 of Threefry4x64-20 with key
  // {seed, 0, 0, 0} and counter {g / 4, step, word2, 0}.
  void (*threefry)(std::uint64_t seed, std::uint64_t path0, std::uint64_t step, std::uint64_t word2,
                   std::size_t n, double* out);
  // out[i] = (k + 1/2) 2^-52 with k the top 52 bits of bits[i].
  void (*uniforms)(const std::uint64_t* bits, double* out, std::size_t n);
  // x[i] = inverse cumulative normal of u[i]; x may equal u.
  void (*inverse_normal)(const double* u, double* x, std::size_t n);
  // out[i] = inverse_normal of philox's (threefry's) out[i], in one pass over blocks
  // that stay in L1.
  void (*philox_normals)(std::uint64_t seed, std::uint64_t path0, std::uint32_t step, std::uint32_t word3,
                         std::size_t n, double* out);
  void (*threefry_normals)(std::uint64_t seed, std::uint64_t path0, std::uint64_t step, std::uint64_t word2,
                           std::size_t n, double* out);
  // out[i] = inverse_normal of uniforms' out[i], likewise in one pass.
  void (*normals_from_bits)(const std::uint64_t* bits, double* out, std::size_t n);
};

// The kernels of the fastest instruction set this CPU runs (Vectorization's choice).
const kernel_table& kernels() noexcept;
// The kernels of `level`; throws "simd level is not supported by this cpu".
const kernel_table& kernels(simd_level level);

}  // namespace tarvex::random_details
