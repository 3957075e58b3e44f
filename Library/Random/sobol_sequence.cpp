#include "Random/sobol_sequence.h"

#include <boost/random/detail/sobol_table.hpp>

#include <bit>

#include "Core/check.h"

namespace tarvex {

namespace {
using table = boost::random::detail::qrng_tables::sobol;
static_assert(table::max_dimension == sobol_sequence::max_dimension);
}  // namespace

sobol_sequence::sobol_sequence(std::size_t dimensions) : dimensions_(dimensions) {
  TARVEX_CHECK(dimensions > 0 && dimensions <= max_dimension, "Sobol dimensions must lie in 1 ... ",
               max_dimension, ", got ", dimensions);
  directions_.resize(dimensions * 64);
  for (unsigned j = 0; j < 64; ++j) directions_[j] = std::uint64_t{1} << (63 - j);
  for (std::size_t d = 1; d < dimensions; ++d) {
    // Polynomial x^s + a_1 x^(s-1) + ... + a_(s-1) x + 1 coded with x^k at bit k.
    const unsigned poly = table::polynomial(d - 1);
    const unsigned s = static_cast<unsigned>(std::bit_width(poly)) - 1;
    std::uint64_t* v = &directions_[d * 64];
    for (unsigned j = 0; j < s; ++j) v[j] = std::uint64_t{table::minit(d - 1, j)} << (63 - j);
    // Bratley-Fox: v_j = v_(j-s) ^ (v_(j-s) >> s) ^ sum_k a_k v_(j-k).
    for (unsigned j = s; j < 64; ++j) {
      std::uint64_t x = v[j - s] ^ (v[j - s] >> s);
      for (unsigned k = 1; k < s; ++k)
        if ((poly >> (s - k)) & 1u) x ^= v[j - k];
      v[j] = x;
    }
  }
}

std::uint64_t sobol_sequence::coordinate(std::size_t dimension, std::uint64_t index) const {
  TARVEX_CHECK(dimension < dimensions_, "dimension ", dimension, " of a ", dimensions_, "-dimensional sequence");
  std::uint64_t gray = index ^ (index >> 1), x = 0;
  const std::uint64_t* v = &directions_[dimension * 64];
  for (unsigned j = 0; gray != 0; ++j, gray >>= 1)
    if (gray & 1u) x ^= v[j];
  return x;
}

void sobol_sequence::coordinates(std::size_t dimension, std::uint64_t first, std::size_t n, std::uint64_t shift,
                                 std::uint64_t* out) const {
  if (n == 0) return;
  const std::uint64_t* v = &directions_[dimension * 64];
  std::uint64_t x = coordinate(dimension, first) ^ shift;
  out[0] = x;
  for (std::size_t i = 1; i < n; ++i) {
    // Gray code of k and k + 1 differ in the lowest zero bit of k.
    x ^= v[std::countr_zero(first + i)];
    out[i] = x;
  }
}

}  // namespace tarvex
