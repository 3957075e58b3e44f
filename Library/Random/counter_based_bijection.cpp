#include "Random/counter_based_bijection.h"

#include <Random123/philox.h>
#include <Random123/threefry.h>

namespace tarvex {

std::array<std::uint32_t, 4> philox4x32_10(const std::array<std::uint32_t, 4>& counter,
                                           const std::array<std::uint32_t, 2>& key) {
  const r123::Philox4x32_R<10>::ctr_type c = {{counter[0], counter[1], counter[2], counter[3]}};
  const r123::Philox4x32_R<10>::key_type k = {{key[0], key[1]}};
  const auto out = r123::Philox4x32_R<10>()(c, k);
  return {out[0], out[1], out[2], out[3]};
}

std::array<std::uint64_t, 4> threefry4x64_20(const std::array<std::uint64_t, 4>& counter,
                                             const std::array<std::uint64_t, 4>& key) {
  const r123::Threefry4x64_R<20>::ctr_type c = {{counter[0], counter[1], counter[2], counter[3]}};
  const r123::Threefry4x64_R<20>::key_type k = {{key[0], key[1], key[2], key[3]}};
  const auto out = r123::Threefry4x64_R<20>()(c, k);
  return {out[0], out[1], out[2], out[3]};
}

}  // namespace tarvex
