#pragma once
#include <array>
#include <cstdint>

namespace tarvex {

// The raw bijections of the counter-based generators (Random123's reference code):
// Philox4x32 with 10 rounds and Threefry4x64 with 20 rounds, from (counter, key) to
// random words. The generators evaluate the same maps on blocks of paths.
std::array<std::uint32_t, 4> philox4x32_10(const std::array<std::uint32_t, 4>& counter,
                                           const std::array<std::uint32_t, 2>& key);
std::array<std::uint64_t, 4> threefry4x64_20(const std::array<std::uint64_t, 4>& counter,
                                             const std::array<std::uint64_t, 4>& key);

}  // namespace tarvex
