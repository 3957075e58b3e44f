#pragma once
#include <cstddef>
#include <cstdint>

namespace tarvex {

// Aligned heap memory for every numeric buffer. Counts live allocations so tests and
// benchmarks can prove that a hot loop allocates nothing.
struct cpu_allocator {
  static constexpr std::size_t default_alignment = 64;

  // Returns `bytes` of storage aligned to `alignment` (a power of two); throws
  // std::bad_alloc ("bad allocation") when the system refuses.
  static void* allocate(std::size_t bytes, std::size_t alignment = default_alignment);
  static void free(void* pointer) noexcept;

  // Number of successful allocate() calls since load (all threads).
  static std::uint64_t allocation_count() noexcept;
};

}  // namespace tarvex
