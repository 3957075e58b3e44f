// One instruction set's kernels: included by kernels.cpp inside a target region and a
// namespace of its own, after it has defined TARVEX_RANDOM_AVX2, TARVEX_RANDOM_AVX512
// and the 64-bit lane operations (u64x, width, load, store, broadcast, mul_low32,
// high32, xor3). No include guard.
//
// Every kernel works on blocks of `lanes` elements held in local arrays, so the
// compiler vectorises each block whole and a partial last block runs the same code on
// padding: an element's result never depends on its position, which is what makes a
// batch a bit-for-bit slice of a larger run.

constexpr std::size_t lanes = 16;

// A short copy as a vector loop: memcpy of a variable length becomes `rep movs`, whose
// start-up costs more than these few hundred bytes.
inline void copy(const double* __restrict from, double* __restrict to, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Floating-point work is written as separate multiplies and adds, never fused (the file
// is compiled with -ffp-contract=off): each level then performs the same correctly
// rounded operations in the same order and the normals agree bit for bit across levels.
// (Fused steps on the AVX levels measured about 7% faster on the inverse normal, but the
// baseline level could only match them through the C library's slow software fma.)

// (k + 1/2) 2^-52, k = top 52 bits of w: symmetric about 1/2 and never 0 or 1. The bit
// pattern 0x433 << 52 | k is the double 2^52 + k; subtracting 2^52 - 1/2 is exact.
inline double uniform_from_bits(std::uint64_t w) {
  const double big = std::bit_cast<double>((w >> 12) | 0x4330000000000000ULL);
  return (big - 4503599627370495.5) * 0x1p-52;
}

void uniforms(const std::uint64_t* bits, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = uniform_from_bits(bits[i]);
}

// Path g takes words (2 (g % 2), 2 (g % 2) + 1) of the counter {g / 2, step, word3}: a
// call serves two paths of one factor, so no word is wasted whatever the factor count.
// Lanes hold the 32-bit words in 64-bit slots; mul_low32 reads only the low halves, so
// the high halves may carry garbage until the words are assembled at the end.
void philox(std::uint64_t seed, std::uint64_t path0, std::uint32_t step, std::uint32_t word3, std::size_t n,
            double* out) {
  // Four registers per word: enough independent multiplies to hide their latency, few
  // enough to stay in registers on every level.
  constexpr std::size_t regs = 4, pairs = regs * width;
  const u64x m0 = broadcast(PHILOX_M4x32_0), m1 = broadcast(PHILOX_M4x32_1);
  const u64x s = broadcast(step), w = broadcast(word3);
  std::uint64_t keys[10][2];
  for (std::uint32_t r = 0, k0 = static_cast<std::uint32_t>(seed), k1 = static_cast<std::uint32_t>(seed >> 32);
       r < 10; ++r, k0 += PHILOX_W32_0, k1 += PHILOX_W32_1) {
    keys[r][0] = k0;
    keys[r][1] = k1;
  }
  const std::uint64_t skip = path0 & 1;
  const std::size_t total = n + skip;  // values from the start of the first pair
  for (std::size_t v0 = 0; v0 < total; v0 += 2 * pairs) {
    const std::uint64_t pair0 = (path0 >> 1) + v0 / 2;
    alignas(64) std::uint64_t lo[pairs], hi[pairs];
    for (std::size_t l = 0; l < pairs; ++l) {
      lo[l] = (pair0 + l) & 0xffffffffu;
      hi[l] = (pair0 + l) >> 32;
    }
    u64x c0[regs], c1[regs], c2[regs], c3[regs];
    for (std::size_t r = 0; r < regs; ++r) {
      c0[r] = load(lo + r * width);
      c1[r] = load(hi + r * width);
      c2[r] = s;
      c3[r] = w;
    }
#pragma GCC unroll 10
    for (int round = 0; round < 10; ++round) {
      const u64x k0 = broadcast(keys[round][0]), k1 = broadcast(keys[round][1]);
      for (std::size_t r = 0; r < regs; ++r) {
        const u64x p0 = mul_low32(c0[r], m0), p1 = mul_low32(c2[r], m1);
        c0[r] = xor3(high32(p1), c1[r], k0);
        c2[r] = xor3(high32(p0), c3[r], k1);
        c1[r] = p1;
        c3[r] = p0;
      }
    }
    alignas(64) std::uint64_t x0[pairs], x1[pairs], x2[pairs], x3[pairs];
    for (std::size_t r = 0; r < regs; ++r) {
      store(x0 + r * width, c0[r]);
      store(x1 + r * width, c1[r]);
      store(x2 + r * width, c2[r]);
      store(x3 + r * width, c3[r]);
    }
    alignas(64) double u[2 * pairs];
    for (std::size_t l = 0; l < pairs; ++l) {
      u[2 * l] = uniform_from_bits(x1[l] << 32 | (x0[l] & 0xffffffffu));
      u[2 * l + 1] = uniform_from_bits(x3[l] << 32 | (x2[l] & 0xffffffffu));
    }
    // Block values v0 ... cover paths path0 - skip + v0 ...; keep those in [0, n).
    const std::size_t from = v0 == 0 ? skip : 0, begin = v0 + from - skip;
    const std::size_t count = std::min(2 * pairs - from, n - begin);
    copy(u + from, out + begin, count);
  }
}

template <int r>
inline std::uint64_t rotl(std::uint64_t x) {
  return (x << r) | (x >> (64 - r));
}

// Two Threefry rounds' worth of mixing on lanes: (a, b) and (c, d) pairs.
template <int r0, int r1>
inline void mix(std::uint64_t* a, std::uint64_t* b, std::uint64_t* c, std::uint64_t* d) {
  for (std::size_t l = 0; l < lanes; ++l) {
    a[l] += b[l];
    b[l] = rotl<r0>(b[l]) ^ a[l];
    c[l] += d[l];
    d[l] = rotl<r1>(d[l]) ^ c[l];
  }
}

// Path g takes word g % 4 of the counter {g / 4, step, word2, 0}: one call serves four
// paths of one factor.
void threefry(std::uint64_t seed, std::uint64_t path0, std::uint64_t step, std::uint64_t word2, std::size_t n,
              double* out) {
  // Key schedule of key {seed, 0, 0, 0}: ks4 is the parity word.
  const std::uint64_t ks[5] = {seed, 0, 0, 0, SKEIN_KS_PARITY64 ^ seed};
  const std::uint64_t skip = path0 & 3;
  const std::size_t total = n + skip;
  for (std::size_t v0 = 0; v0 < total; v0 += 4 * lanes) {
    const std::uint64_t quad0 = (path0 >> 2) + v0 / 4;
    std::uint64_t x0[lanes], x1[lanes], x2[lanes], x3[lanes];
    for (std::size_t l = 0; l < lanes; ++l) {
      x0[l] = quad0 + l + ks[0];
      x1[l] = step + ks[1];
      x2[l] = word2 + ks[2];
      x3[l] = ks[3];
    }
    for (unsigned s = 1; s <= 5; ++s) {
      // Rounds 8j ... 8j+3 rotate by constants 0-3, rounds 8j+4 ... 8j+7 by 4-7.
      if (s % 2 == 1) {
        mix<R_64x4_0_0, R_64x4_0_1>(x0, x1, x2, x3);
        mix<R_64x4_1_0, R_64x4_1_1>(x0, x3, x2, x1);
        mix<R_64x4_2_0, R_64x4_2_1>(x0, x1, x2, x3);
        mix<R_64x4_3_0, R_64x4_3_1>(x0, x3, x2, x1);
      } else {
        mix<R_64x4_4_0, R_64x4_4_1>(x0, x1, x2, x3);
        mix<R_64x4_5_0, R_64x4_5_1>(x0, x3, x2, x1);
        mix<R_64x4_6_0, R_64x4_6_1>(x0, x1, x2, x3);
        mix<R_64x4_7_0, R_64x4_7_1>(x0, x3, x2, x1);
      }
      const std::uint64_t a = ks[s % 5], b = ks[(s + 1) % 5], c = ks[(s + 2) % 5], d = ks[(s + 3) % 5] + s;
      for (std::size_t l = 0; l < lanes; ++l) {
        x0[l] += a;
        x1[l] += b;
        x2[l] += c;
        x3[l] += d;
      }
    }
    alignas(64) double u[4 * lanes];
    for (std::size_t l = 0; l < lanes; ++l) {
      u[4 * l] = uniform_from_bits(x0[l]);
      u[4 * l + 1] = uniform_from_bits(x1[l]);
      u[4 * l + 2] = uniform_from_bits(x2[l]);
      u[4 * l + 3] = uniform_from_bits(x3[l]);
    }
    const std::size_t from = v0 == 0 ? skip : 0, begin = v0 + from - skip;
    const std::size_t count = std::min(4 * lanes - from, n - begin);
    copy(u + from, out + begin, count);
  }
}

// Wichura's AS241 (PPND16), coefficients from highest to lowest power. Numerators and
// denominators of the three regions: central |q| <= 0.425 in r = 0.180625 - q^2;
// tail s = sqrt(-log min(u, 1-u)) in s - 1.6 up to s = 5 and s - 5 beyond.
constexpr double central_num[8] = {2.5090809287301226727e+3, 3.3430575583588128105e+4, 6.7265770927008700853e+4,
                                   4.5921953931549871457e+4, 1.3731693765509461125e+4, 1.9715909503065514427e+3,
                                   1.3314166789178437745e+2, 3.3871328727963666080e+0};
constexpr double central_den[8] = {5.2264952788528545610e+3, 2.8729085735721942674e+4, 3.9307895800092710610e+4,
                                   2.1213794301586595867e+4, 5.3941960214247511077e+3, 6.8718700749205790830e+2,
                                   4.2313330701600911252e+1, 1.0};
constexpr double near_num[8] = {7.74545014278341407640e-4, 2.27238449892691845833e-2, 2.41780725177450611770e-1,
                                1.27045825245236838258e+0, 3.64784832476320460504e+0, 5.76949722146069140550e+0,
                                4.63033784615654529590e+0, 1.42343711074968357734e+0};
constexpr double near_den[8] = {1.05075007164441684324e-9, 5.47593808499534494600e-4, 1.51986665636164571966e-2,
                                1.48103976427480074590e-1, 6.89767334985100004550e-1, 1.67638483018380384940e+0,
                                2.05319162663775882187e+0, 1.0};
constexpr double far_num[8] = {2.01033439929228813265e-7, 2.71155556874348757815e-5, 1.24266094738807843860e-3,
                               2.65321895265761230930e-2, 2.96560571828504891230e-1, 1.78482653991729133580e+0,
                               5.46378491116411436990e+0, 6.65790464350110377720e+0};
constexpr double far_den[8] = {2.04426310338993978564e-15, 1.42151175831644588870e-7, 1.84631831751005468180e-5,
                               7.86869131145613259100e-4, 1.48753612908506148525e-2, 1.36929880922735805310e-1,
                               5.99832206555887937690e-1, 1.0};

#if TARVEX_RANDOM_AVX512
// Tail lanes by register compress and expand, 8 at a time (the memory forms of these
// instructions are slow on some cores). Buffers have 8 doubles of slack.
inline std::size_t list_tails(const double* ub, double* tu, std::uint8_t* masks, std::size_t block) {
  std::size_t count = 0;
  const __m512d half = _mm512_set1_pd(0.5), bound = _mm512_set1_pd(0.425);
  for (std::size_t g = 0; g < block / 8; ++g) {
    const __m512d v = _mm512_load_pd(ub + 8 * g), q = _mm512_sub_pd(v, half);
    // Not (|q| <= 0.425), so that NaN stays central.
    const __mmask8 tail = _mm512_cmp_pd_mask(_mm512_abs_pd(q), bound, _CMP_NLE_UQ);
    _mm512_storeu_pd(tu + count, _mm512_maskz_compress_pd(tail, v));
    masks[g] = tail;
    count += static_cast<std::size_t>(__builtin_popcount(tail));
  }
  return count;
}
inline void merge_tails(double* xb, const double* tx, const std::uint8_t* masks, std::size_t block) {
  std::size_t pos = 0;
  for (std::size_t g = 0; g < block / 8; ++g) {
    __m512d tails = _mm512_loadu_pd(tx + pos);
    asm("" : "+v"(tails));  // keeps the load apart: GCC would fold it into the slow memory form
    const __m512d merged = _mm512_mask_expand_pd(_mm512_load_pd(xb + 8 * g), masks[g], tails);
    _mm512_store_pd(xb + 8 * g, merged);
    pos += static_cast<std::size_t>(__builtin_popcount(masks[g]));
  }
}
#elif TARVEX_RANDOM_AVX2
// Tail lanes by a permutation per group of 4 (AVX2 has no compress): perms[m] moves the
// lanes set in m to the front, as pairs of 32-bit indices. Buffers have slack for a
// full store.
struct tail_permutations {
  alignas(32) std::int32_t index[16][8];
  constexpr tail_permutations() : index{} {
    for (int m = 0; m < 16; ++m) {
      int k = 0;
      for (int j = 0; j < 4; ++j)
        if (m >> j & 1) index[m][2 * k] = 2 * j, index[m][2 * k + 1] = 2 * j + 1, ++k;
    }
  }
};
constexpr tail_permutations perms;
inline std::size_t list_tails(const double* ub, double* tu, std::uint8_t* masks, std::size_t block) {
  std::size_t count = 0;
  const __m256d half = _mm256_set1_pd(0.5), bound = _mm256_set1_pd(0.425), sign = _mm256_set1_pd(-0.0);
  for (std::size_t g = 0; g < block / 4; ++g) {
    const __m256d v = _mm256_load_pd(ub + 4 * g), q = _mm256_andnot_pd(sign, _mm256_sub_pd(v, half));
    // Not (|q| <= 0.425), so that NaN stays central.
    const int tail = _mm256_movemask_pd(_mm256_cmp_pd(q, bound, _CMP_NLE_UQ));
    const __m256i perm = _mm256_load_si256(reinterpret_cast<const __m256i*>(perms.index[tail]));
    _mm256_storeu_pd(tu + count, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(v), perm)));
    masks[g] = static_cast<std::uint8_t>(tail);
    count += static_cast<std::size_t>(__builtin_popcount(tail));
  }
  return count;
}
inline void merge_tails(double* xb, const double* tx, const std::uint8_t* masks, std::size_t block) {
  std::size_t pos = 0;
  for (std::size_t g = 0; g < block / 4; ++g)
    for (unsigned m = masks[g]; m != 0; m &= m - 1) xb[4 * g + static_cast<std::size_t>(__builtin_ctz(m))] = tx[pos++];
}
#else
// Tail lanes listed without branches: every lane writes its slot, the count advances
// by the test.
inline std::size_t list_tails(const double* ub, double* tu, std::uint32_t* where, std::size_t block) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < block; ++i) {
    where[count] = static_cast<std::uint32_t>(i);
    tu[count] = ub[i];
    count += !(std::fabs(ub[i] - 0.5) <= 0.425);  // NaN stays central and comes out NaN
  }
  return count;
}
inline void merge_tails(double* xb, const double* tx, const std::uint32_t* where, std::size_t count) {
  for (std::size_t j = 0; j < count; ++j) xb[where[j]] = tx[j];
}
#endif

// Natural logarithm of the tails, the same operations on every level (SLEEF's vlog
// rounds differently per level). fdlibm's e_log.c: x = 2^k z with z in [sqrt(2)/2,
// sqrt(2)), f = z - 1, s = f / (2 + f), log z = f - f^2/2 + s (f^2/2 + R(s^2)); error
// below 1 ulp. Integer bit operations only (no 64-bit integer to double conversion, which
// neither AVX2 nor AVX-512F has), so every level vectorises it. Valid for positive
// finite x, subnormals included; the caller deals with 0 and negative x.
inline double tail_log(double x) {
  constexpr double ln2_hi = 6.93147180369123816490e-01, ln2_lo = 1.90821492927058770002e-10;
  constexpr double lg1 = 6.666666666666735130e-01, lg2 = 3.999999999940941908e-01, lg3 = 2.857142874366239149e-01,
                   lg4 = 2.222219843214978396e-01, lg5 = 1.818357216161805012e-01, lg6 = 1.531383769920937332e-01,
                   lg7 = 1.479819860511658591e-01;
  const bool tiny = x < 0x1p-1022;
  const std::uint64_t ix = std::bit_cast<std::uint64_t>(tiny ? x * 0x1p54 : x);
  // kb = k + 1023 with the split point at sqrt(2)/2 (0x3fe6a09e667f3bcd).
  const std::uint64_t kb = (ix - 0x3fe6a09e667f3bcdULL + (1023ULL << 52)) >> 52;
  const double z = std::bit_cast<double>(ix - (kb << 52) + (1023ULL << 52));
  const double k = (std::bit_cast<double>(kb | 0x4330000000000000ULL) - (0x1p52 + 1023.0)) - (tiny ? 54.0 : 0.0);
  const double f = z - 1.0, s = f / (2.0 + f), s2 = s * s, w = s2 * s2;
  const double t1 = w * (lg2 + w * (lg4 + w * lg6)), t2 = s2 * (lg1 + w * (lg3 + w * (lg5 + w * lg7)));
  const double hfsq = 0.5 * f * f;
  return s * (hfsq + (t2 + t1)) + k * ln2_lo - hfsq + f + k * ln2_hi;
}

// c[0] r^7 + ... + c[7] by Estrin's scheme: a dependency chain of four steps instead of
// Horner's seven, which matters without fused multiply-adds. Every coefficient of AS241
// is positive and r >= 0 in every region, so the regrouping loses nothing.
inline double estrin7(const double* c, double r) {
  const double r2 = r * r, r4 = r2 * r2;
  return ((c[0] * r + c[1]) * r2 + (c[2] * r + c[3])) * r4 + ((c[4] * r + c[5]) * r2 + (c[6] * r + c[7]));
}

// The tail's value at u (t = min(u, 1 - u)) from one region's rational in r. u = 0 or 1
// would give inf/inf (the generators never produce them); u outside [0, 1] gives t < 0,
// whose normal is NaN.
inline double tail_value(double u, double t, double r, const double* num_c, const double* den_c) {
  const double num = estrin7(num_c, r), den = estrin7(den_c, r);
  const double sign = u - 0.5 < 0.0 ? -1.0 : 1.0;
  const double v = t == 0.0 ? std::numeric_limits<double>::infinity() : num / den;
  return t < 0.0 ? std::numeric_limits<double>::quiet_NaN() : sign * v;
}

// Inverse normal of one block held in local arrays (ub is read only).
constexpr std::size_t block = 256;

// Every lane evaluates the central rational; the lanes beyond |q| = 0.425 (15% of
// uniforms) are listed, their logarithms taken over the list and their rationals
// evaluated there, then written over the central results. Listing spares the 85%
// central lanes the logarithm, the root and the blends.
inline void invert_block(const double* ub, double* xb) {
  alignas(64) double tu[block + 8], tx[block + 8];
#if TARVEX_RANDOM_AVX512
  alignas(64) std::uint8_t where[block / 8];
#elif TARVEX_RANDOM_AVX2
  alignas(64) std::uint8_t where[block / 4];
#else
  alignas(64) std::uint32_t where[block];
#endif
  for (std::size_t i = 0; i < block; ++i) {
    const double q = ub[i] - 0.5, r = 0.180625 - q * q;
    xb[i] = q * estrin7(central_num, r) / estrin7(central_den, r);
  }
  // Only the uniforms are listed (one compress per group); q and t are recomputed.
  const std::size_t count = list_tails(ub, tu, where, block);
  // Whole groups of 8 through the vector loop; the padding is a harmless tail value.
  const std::size_t padded = (count + 7) & ~std::size_t{7};
  for (std::size_t j = count; j < padded; ++j) tu[j] = 0.01;
  // Every listed lane through the rational up to s = 5; lanes beyond (u below e^-25,
  // about 3e-11 of the draws) are flagged and redone with the far rational, which spares
  // the common case sixteen coefficient blends.
  int far = 0;
  for (std::size_t j = 0; j < padded; ++j) {
    const double u = tu[j], t = std::min(u, 1.0 - u), s = std::sqrt(-tail_log(t));
    far |= !(s <= 5.0);
    tx[j] = tail_value(u, t, s - 1.6, near_num, near_den);
  }
  if (far != 0)
    for (std::size_t j = 0; j < padded; ++j) {
      const double u = tu[j], t = std::min(u, 1.0 - u), s = std::sqrt(-tail_log(t));
      if (!(s <= 5.0)) tx[j] = tail_value(u, t, s - 5.0, far_num, far_den);
    }
#if TARVEX_RANDOM_AVX512 || TARVEX_RANDOM_AVX2
  merge_tails(xb, tx, where, block);
#else
  merge_tails(xb, tx, where, count);
#endif
}

void inverse_normal(const double* u, double* x, std::size_t n) {
  // Through local blocks: the caller may pass x == u, and a possible alias would stop
  // the compiler from vectorising the loops.
  alignas(64) double ub[block], xb[block];
  for (std::size_t i0 = 0; i0 < n; i0 += block) {
    const std::size_t m = std::min(block, n - i0);
    for (std::size_t i = 0; i < m; ++i) ub[i] = u[i0 + i];
    for (std::size_t i = m; i < block; ++i) ub[i] = 0.5;
    invert_block(ub, xb);
    for (std::size_t i = 0; i < m; ++i) x[i0 + i] = xb[i];
  }
}

// Uniforms of a block straight into the inversion: they never leave L1.
template <class Uniforms>
inline void normals_by_blocks(std::size_t n, double* out, Uniforms&& uniforms) {
  alignas(64) double ub[block], xb[block];
  for (std::size_t i0 = 0; i0 < n; i0 += block) {
    const std::size_t m = std::min(block, n - i0);
    uniforms(i0, m, ub);
    for (std::size_t i = m; i < block; ++i) ub[i] = 0.5;
    invert_block(ub, xb);
    copy(xb, out + i0, m);
  }
}

void philox_normals(std::uint64_t seed, std::uint64_t path0, std::uint32_t step, std::uint32_t word3, std::size_t n,
                    double* out) {
  normals_by_blocks(n, out, [&](std::size_t i0, std::size_t m, double* ub) {
    philox(seed, path0 + i0, step, word3, m, ub);
  });
}

void normals_from_bits(const std::uint64_t* bits, double* out, std::size_t n) {
  normals_by_blocks(n, out, [&](std::size_t i0, std::size_t m, double* ub) { uniforms(bits + i0, ub, m); });
}

void threefry_normals(std::uint64_t seed, std::uint64_t path0, std::uint64_t step, std::uint64_t word2,
                      std::size_t n, double* out) {
  normals_by_blocks(n, out, [&](std::size_t i0, std::size_t m, double* ub) {
    threefry(seed, path0 + i0, step, word2, m, ub);
  });
}
