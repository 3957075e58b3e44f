#include "Random/details/kernels.h"

#include <Random123/philox.h>
#include <Random123/threefry.h>

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "Core/check.h"
#include "Vectorization/details/target_region.h"

// The same source is compiled three times: for baseline x86-64, for AVX2 + FMA and for
// AVX-512F + FMA (target regions, as Vectorization does for SLEEF), and the table of
// the level the CPU supports is picked once. (Clang spells the target regions as
// attribute pragmas.) Every level performs the same IEEE operations in the same order
// (no fused multiply-adds, the logarithm written out rather than SLEEF's per-level
// one), so draws agree bit for bit across levels and machines. Each level supplies the
// few 64-bit lane operations Philox needs (the compiler emulates a full 64-bit multiply
// when left to itself, three times the work of the 32 x 32 -> 64 one wanted).

namespace tarvex::random_details {
namespace baseline_kernels {
using u64x = __m128i;
constexpr std::size_t width = 2;
inline u64x load(const std::uint64_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(std::uint64_t* p, u64x v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
inline u64x broadcast(std::uint64_t x) { return _mm_set1_epi64x(static_cast<long long>(x)); }
inline u64x mul_low32(u64x a, u64x b) { return _mm_mul_epu32(a, b); }
inline u64x high32(u64x a) { return _mm_srli_epi64(a, 32); }
inline u64x xor3(u64x a, u64x b, u64x c) { return _mm_xor_si128(_mm_xor_si128(a, b), c); }
#define TARVEX_RANDOM_AVX2 0
#define TARVEX_RANDOM_AVX512 0
#include "Random/details/kernels_body.h"
#undef TARVEX_RANDOM_AVX512
#undef TARVEX_RANDOM_AVX2
}  // namespace baseline_kernels
}  // namespace tarvex::random_details

TARVEX_TARGET_REGION_BEGIN("avx2,fma")
namespace tarvex::random_details {
namespace avx2_kernels {
using u64x = __m256i;
constexpr std::size_t width = 4;
inline u64x load(const std::uint64_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
inline void store(std::uint64_t* p, u64x v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
inline u64x broadcast(std::uint64_t x) { return _mm256_set1_epi64x(static_cast<long long>(x)); }
inline u64x mul_low32(u64x a, u64x b) { return _mm256_mul_epu32(a, b); }
inline u64x high32(u64x a) { return _mm256_srli_epi64(a, 32); }
inline u64x xor3(u64x a, u64x b, u64x c) { return _mm256_xor_si256(_mm256_xor_si256(a, b), c); }
#define TARVEX_RANDOM_AVX2 1
#define TARVEX_RANDOM_AVX512 0
#include "Random/details/kernels_body.h"
#undef TARVEX_RANDOM_AVX512
#undef TARVEX_RANDOM_AVX2
}  // namespace avx2_kernels
}  // namespace tarvex::random_details
TARVEX_TARGET_REGION_END

// GCC 12 reports the undefined pass-through operand inside its own AVX-512 intrinsics
// as (maybe-)uninitialized (a false positive of the headers, not of this code).
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
TARVEX_TARGET_REGION_BEGIN("avx512f,fma")
namespace tarvex::random_details {
namespace avx512_kernels {
using u64x = __m512i;
constexpr std::size_t width = 8;
inline u64x load(const std::uint64_t* p) { return _mm512_load_si512(p); }
inline void store(std::uint64_t* p, u64x v) { _mm512_store_si512(p, v); }
inline u64x broadcast(std::uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
inline u64x mul_low32(u64x a, u64x b) { return _mm512_mul_epu32(a, b); }
inline u64x high32(u64x a) { return _mm512_srli_epi64(a, 32); }
// One ternary-logic instruction for a ^ b ^ c (truth table 0x96).
inline u64x xor3(u64x a, u64x b, u64x c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
#define TARVEX_RANDOM_AVX2 0
#define TARVEX_RANDOM_AVX512 1
#include "Random/details/kernels_body.h"
#undef TARVEX_RANDOM_AVX512
#undef TARVEX_RANDOM_AVX2
}  // namespace avx512_kernels
}  // namespace tarvex::random_details
TARVEX_TARGET_REGION_END
#pragma GCC diagnostic pop

namespace tarvex::random_details {
namespace {

constexpr kernel_table tables[] = {
    {baseline_kernels::philox, baseline_kernels::threefry, baseline_kernels::uniforms,
     baseline_kernels::inverse_normal, baseline_kernels::philox_normals, baseline_kernels::threefry_normals,
     baseline_kernels::normals_from_bits},
    {avx2_kernels::philox, avx2_kernels::threefry, avx2_kernels::uniforms, avx2_kernels::inverse_normal,
     avx2_kernels::philox_normals, avx2_kernels::threefry_normals, avx2_kernels::normals_from_bits},
    {avx512_kernels::philox, avx512_kernels::threefry, avx512_kernels::uniforms, avx512_kernels::inverse_normal,
     avx512_kernels::philox_normals, avx512_kernels::threefry_normals, avx512_kernels::normals_from_bits},
};

}  // namespace

const kernel_table& kernels() noexcept {
  static const kernel_table& table = tables[static_cast<int>(active_simd_level())];
  return table;
}

const kernel_table& kernels(simd_level level) {
  TARVEX_CHECK_TEXT(simd_level_supported(level), "simd level is not supported by this cpu");
  return tables[static_cast<int>(level)];
}

}  // namespace tarvex::random_details
