#include "Core/cpu_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace tarvex {
namespace {
std::atomic<std::uint64_t> allocations{0};
}

void* cpu_allocator::allocate(std::size_t bytes, std::size_t alignment) {
  if (alignment < alignof(void*)) alignment = alignof(void*);
  // aligned_alloc wants a size that is a multiple of the alignment; 0 bytes still
  // yields a unique pointer so that empty containers need no special case.
  const std::size_t rounded = bytes == 0 ? alignment : (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes) throw std::bad_alloc();
  void* p = std::aligned_alloc(alignment, rounded);
  if (p == nullptr) throw std::bad_alloc();
  allocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void cpu_allocator::free(void* pointer) noexcept { std::free(pointer); }

std::uint64_t cpu_allocator::allocation_count() noexcept { return allocations.load(std::memory_order_relaxed); }

}  // namespace tarvex
