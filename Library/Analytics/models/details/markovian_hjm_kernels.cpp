#include "Analytics/models/details/markovian_hjm_kernels.h"

#include <algorithm>

// The same loops compiled for baseline x86-64, AVX2 and AVX-512F (target regions, as the
// Random kernels do); the build itself stays portable.

namespace tarvex::hjm_details {
namespace baseline_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace baseline_kernels
}  // namespace tarvex::hjm_details

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace tarvex::hjm_details {
namespace avx2_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace avx2_kernels
}  // namespace tarvex::hjm_details
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f")
#endif
namespace tarvex::hjm_details {
namespace avx512_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace avx512_kernels
}  // namespace tarvex::hjm_details
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarvex::hjm_details {
namespace {

constexpr kernel_table tables[] = {
    {baseline_kernels::simulation_step, baseline_kernels::conditional_price},
    {avx2_kernels::simulation_step, avx2_kernels::conditional_price},
    {avx512_kernels::simulation_step, avx512_kernels::conditional_price},
};

}  // namespace

const kernel_table& kernels() noexcept {
  static const kernel_table& table = tables[static_cast<int>(active_simd_level())];
  return table;
}

}  // namespace tarvex::hjm_details
