#include "Vectorization/vectorized_math.h"

#include <immintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "Core/check.h"
#include "Vectorization/details/target_region.h"

// sleef.h declares its x86 vector functions only when the translation unit itself is
// compiled with -mavx/-mavx512f. The library must build and load on any x86-64, so the
// few entry points we use are declared here and wrapped inside target regions (the
// pragma form of __attribute__((target))); the wrappers run only after a CPU check.
//
// Each wrapper runs whole registers, then pads the tail into an aligned stack buffer so
// that every element sees exactly the same code. Padding is 1.0: valid for exp and log.
#define TARVEX_SIMD_WRAPPER(name, sleef, width, loadu, storeu, load, store) \
  void name(const double* in, double* out, std::size_t n) {                     \
    std::size_t i = 0;                                                          \
    for (; i + width <= n; i += width) storeu(out + i, sleef(loadu(in + i)));   \
    if (i < n) {                                                                \
      alignas(64) double buffer[width];                                         \
      for (std::size_t k = 0; k < width; ++k) buffer[k] = 1.0;                  \
      std::memcpy(buffer, in + i, (n - i) * sizeof(double));                    \
      store(buffer, sleef(load(buffer)));                                       \
      std::memcpy(out + i, buffer, (n - i) * sizeof(double));                   \
    }                                                                           \
  }

TARVEX_TARGET_REGION_BEGIN("avx2,fma")
extern "C" {
__m256d Sleef_expd4_u10avx2(__m256d);
__m256d Sleef_expm1d4_u10avx2(__m256d);
__m256d Sleef_logd4_u10avx2(__m256d);
}
namespace tarvex {
namespace {
TARVEX_SIMD_WRAPPER(exp_avx2, Sleef_expd4_u10avx2, 4, _mm256_loadu_pd, _mm256_storeu_pd, _mm256_load_pd,
                    _mm256_store_pd)
TARVEX_SIMD_WRAPPER(expm1_avx2, Sleef_expm1d4_u10avx2, 4, _mm256_loadu_pd, _mm256_storeu_pd,
                    _mm256_load_pd, _mm256_store_pd)
TARVEX_SIMD_WRAPPER(log_avx2, Sleef_logd4_u10avx2, 4, _mm256_loadu_pd, _mm256_storeu_pd, _mm256_load_pd,
                    _mm256_store_pd)
}  // namespace
}  // namespace tarvex
TARVEX_TARGET_REGION_END

TARVEX_TARGET_REGION_BEGIN("avx512f")
extern "C" {
__m512d Sleef_expd8_u10avx512f(__m512d);
__m512d Sleef_expm1d8_u10avx512f(__m512d);
__m512d Sleef_logd8_u10avx512f(__m512d);
}
namespace tarvex {
namespace {
TARVEX_SIMD_WRAPPER(exp_avx512, Sleef_expd8_u10avx512f, 8, _mm512_loadu_pd, _mm512_storeu_pd,
                    _mm512_load_pd, _mm512_store_pd)
TARVEX_SIMD_WRAPPER(expm1_avx512, Sleef_expm1d8_u10avx512f, 8, _mm512_loadu_pd, _mm512_storeu_pd,
                    _mm512_load_pd, _mm512_store_pd)
TARVEX_SIMD_WRAPPER(log_avx512, Sleef_logd8_u10avx512f, 8, _mm512_loadu_pd, _mm512_storeu_pd,
                    _mm512_load_pd, _mm512_store_pd)
}  // namespace
}  // namespace tarvex
TARVEX_TARGET_REGION_END
#undef TARVEX_SIMD_WRAPPER

namespace tarvex {
namespace {

using kernel = void (*)(const double*, double*, std::size_t);

void exp_scalar(const double* in, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(in[i]);
}
void expm1_scalar(const double* in, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::expm1(in[i]);
}
void log_scalar(const double* in, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::log(in[i]);
}

// The SLEEF AVX2 kernels are built with FMA as well; __builtin_cpu_supports also checks
// that the OS saves the wide registers.
simd_level cpu_level() noexcept {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return simd_level::avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return simd_level::avx2;
  return simd_level::scalar;
}

// TARVEX_SIMD_LEVEL=scalar|avx2|avx512 caps the level (to measure or test a narrower
// machine on a wider one); it never raises it, and any other value is ignored.
simd_level detect() noexcept {
  const simd_level cpu = cpu_level();
  const char* cap = std::getenv("TARVEX_SIMD_LEVEL");
  if (cap == nullptr) return cpu;
  const std::string_view name(cap);
  const simd_level wanted = name == "scalar" ? simd_level::scalar
                            : name == "avx2" ? simd_level::avx2
                                             : simd_level::avx512;
  return static_cast<int>(wanted) < static_cast<int>(cpu) ? wanted : cpu;
}

struct kernels {
  kernel exp, expm1, log;
};

constexpr kernels table[] = {
    {exp_scalar, expm1_scalar, log_scalar},
    {exp_avx2, expm1_avx2, log_avx2},
    {exp_avx512, expm1_avx512, log_avx512},
};

const kernels& active() noexcept {
  static const kernels& k = table[static_cast<int>(active_simd_level())];
  return k;
}

const kernels& forced(simd_level level) {
  TARVEX_CHECK_TEXT(simd_level_supported(level), "simd level is not supported by this cpu");
  return table[static_cast<int>(level)];
}

}  // namespace

simd_level active_simd_level() noexcept {
  static const simd_level level = detect();
  return level;
}

bool simd_level_supported(simd_level level) noexcept {
  return static_cast<int>(level) <= static_cast<int>(active_simd_level());
}

void vexp(const double* in, double* out, std::size_t n) { active().exp(in, out, n); }
void vexpm1(const double* in, double* out, std::size_t n) { active().expm1(in, out, n); }
void vlog(const double* in, double* out, std::size_t n) { active().log(in, out, n); }

void vexp(simd_level level, const double* in, double* out, std::size_t n) { forced(level).exp(in, out, n); }
void vexpm1(simd_level level, const double* in, double* out, std::size_t n) { forced(level).expm1(in, out, n); }
void vlog(simd_level level, const double* in, double* out, std::size_t n) { forced(level).log(in, out, n); }

double normalcdf(double x) noexcept {
  // Phi(x) = erfc(z)/2 with z = -x/sqrt(2). Rounding z alone costs a relative error of
  // about 2 z^2 ulp in the tail (6e-15 at x = -8), so the rounding residue dz is put
  // back with the first Taylor term: erfc(z + dz) ~ erfc(z) - 2/sqrt(pi) e^(-z^2) dz.
  constexpr double inv_sqrt2_hi = 0.70710678118654757;      // nearest double to 1/sqrt(2)
  constexpr double inv_sqrt2_lo = -4.8336466567264567e-17;  // 1/sqrt(2) - inv_sqrt2_hi
  constexpr double two_over_sqrt_pi = 1.1283791670955126;
  const double z = -x * inv_sqrt2_hi;
  const double dz = std::fma(-x, inv_sqrt2_hi, -z) - x * inv_sqrt2_lo;
  const double e = std::erfc(z);
  if (!std::isfinite(z)) return e * 0.5;
  return 0.5 * (e - two_over_sqrt_pi * std::exp(-z * z) * dz);
}

void normalcdf(const double* in, double* out, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) out[i] = normalcdf(in[i]);
}

}  // namespace tarvex
