#include "Analytics/models/details/markovian_hjm_kernels.h"

#include <algorithm>

#include "Vectorization/details/target_region.h"

// The same loops compiled for baseline x86-64, AVX2 and AVX-512F (target regions, as the
// Random kernels do); the build itself stays portable.

namespace tarvex::hjm_details {
namespace baseline_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace baseline_kernels
}  // namespace tarvex::hjm_details

TARVEX_TARGET_REGION_BEGIN("avx2")
namespace tarvex::hjm_details {
namespace avx2_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace avx2_kernels
}  // namespace tarvex::hjm_details
TARVEX_TARGET_REGION_END

TARVEX_TARGET_REGION_BEGIN("avx512f")
namespace tarvex::hjm_details {
namespace avx512_kernels {
#include "Analytics/models/details/markovian_hjm_kernels_body.h"
}  // namespace avx512_kernels
}  // namespace tarvex::hjm_details
TARVEX_TARGET_REGION_END

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
