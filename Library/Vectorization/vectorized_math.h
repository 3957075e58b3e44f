#pragma once
#include <cstddef>

namespace tarvex {

// Instruction sets the array kernels can run on, from slowest to fastest.
enum class simd_level { scalar, avx2, avx512 };

// Fastest level this CPU supports, capped by the environment variable
// TARVEX_SIMD_LEVEL (scalar, avx2 or avx512) when set; chosen once, thread-safe.
simd_level active_simd_level() noexcept;

// Whether this CPU (and OS) can run kernels of `level`, within the cap above; scalar is
// always supported.
bool simd_level_supported(simd_level level) noexcept;

// Array kernels. `in` may equal `out` (element-wise aliasing); partial overlap is not
// supported. The AVX2 and AVX-512 paths use SLEEF's u10 functions: max error 1.0 ulp
// over the whole double range, including subnormal results, ±inf and NaN. The scalar
// path uses the C library (glibc: also below 1 ulp). A tail shorter than one register
// is padded through a stack buffer, so a value's result never depends on its position.

// out[i] = e^in[i].
void vexp(const double* in, double* out, std::size_t n);
// out[i] = e^in[i] - 1, accurate for tiny |in[i]|.
void vexpm1(const double* in, double* out, std::size_t n);
// out[i] = natural log of in[i]: log(0) = -inf, log(negative) = NaN.
void vlog(const double* in, double* out, std::size_t n);

// Same kernels forced onto one level (tests, benchmarks). Throws tarvex::Error
// "simd level is not supported by this cpu" when the CPU cannot run it.
void vexp(simd_level level, const double* in, double* out, std::size_t n);
// expm1 forced onto `level`.
void vexpm1(simd_level level, const double* in, double* out, std::size_t n);
// log forced onto `level`.
void vlog(simd_level level, const double* in, double* out, std::size_t n);

// Standard normal CDF, relative error ~1e-15 over the whole range (deep left tail
// included: computed from erfc, never as 1 - something).
double normalcdf(double x) noexcept;
// out[i] = normalcdf(in[i]); `in` may equal `out`.
void normalcdf(const double* in, double* out, std::size_t n) noexcept;

}  // namespace tarvex
