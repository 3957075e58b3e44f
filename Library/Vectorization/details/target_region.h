#pragma once
// Opens and closes a region of functions compiled for an instruction set beyond the
// build's baseline (GCC's push_options/target pragmas, clang's attribute pragma), so
// that one source can hold a loop once per level; callers pick a level only after
// `simd_level_supported`. Internal to the libraries.
//
//   TARVEX_TARGET_REGION_BEGIN("avx2,fma")
//   namespace avx2_kernels { ... }
//   TARVEX_TARGET_REGION_END

#define TARVEX_TARGET_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define TARVEX_TARGET_REGION_BEGIN(isa) \
  TARVEX_TARGET_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define TARVEX_TARGET_REGION_END TARVEX_TARGET_PRAGMA(clang attribute pop)
#else
#define TARVEX_TARGET_REGION_BEGIN(isa) TARVEX_TARGET_PRAGMA(GCC push_options) TARVEX_TARGET_PRAGMA(GCC target(isa))
#define TARVEX_TARGET_REGION_END TARVEX_TARGET_PRAGMA(GCC pop_options)
#endif
