#pragma once
#include <cstddef>
#include <limits>
#include <new>

#include "Core/check.h"
#include "Core/cpu_allocator.h"

namespace tarvex::details {

// a * b, refusing products that wrap around: a wrapped size would allocate a small
// buffer and let indexing run far past it.
inline std::size_t checked_product(std::size_t a, std::size_t b) {
  TARVEX_CHECK_TEXT(b == 0 || a <= std::numeric_limits<std::size_t>::max() / b, "container size overflows");
  return a * b;
}

// The size check shared by every element-wise assignment; its text is an interface.
[[gnu::cold]] inline void size_mismatch(std::size_t expression, std::size_t destination) {
  struct extent {
    std::size_t n;
    std::size_t size() const { return n; }
  };
  const extent expr{expression}, rhs{destination};
  TARVEX_CHECK(expr.size() == rhs.size(), "expression has diferrent size ", expr.size(), " than destination ",
               rhs.size());
}
inline void check_size(std::size_t expression, std::size_t destination) {
  if (expression != destination) [[unlikely]] size_mismatch(expression, destination);
}

// Zero-filled storage for n elements from cpu_allocator (64-byte aligned), or nullptr
// for n == 0 so that empty containers allocate nothing.
template <class T>
T* allocate_elements(std::size_t n) {
  if (n == 0) return nullptr;
  const std::size_t bytes = checked_product(n, sizeof(T));
  T* p = static_cast<T*>(cpu_allocator::allocate(bytes, cpu_allocator::default_alignment));
  for (std::size_t i = 0; i < n; ++i) ::new (static_cast<void*>(p + i)) T();
  return p;
}

template <class T>
void free_elements(T* p) noexcept {
  // Elements are arithmetic types: nothing to destroy.
  if (p != nullptr) cpu_allocator::free(p);
}

}  // namespace tarvex::details
