#pragma once
#include <cstddef>
#include <initializer_list>
#include <utility>

#include "Core/check.h"
#include "Vectorization/details/storage.h"
#include "Vectorization/expression.h"

namespace tarvex {

// Contiguous 1-d array, either owning 64-byte aligned storage from cpu_allocator or a
// non-owning view of someone else's memory. Only T = double takes part in expressions.
//
// Copying always yields an owning deep copy, except that assigning into a view writes
// the elements through the view (sizes must match: "expression has diferrent size").
// Moving keeps what the source was: a moved view stays a view.
template <class T>
class vector {
 public:
  using value_type = T;
  using expression_shape = vector_shape;

  // Empty owning vector; allocates nothing.
  vector() noexcept = default;

  // n zero elements.
  explicit vector(std::size_t n) : data_(details::allocate_elements<T>(n)), size_(n) {}

  // n copies of value.
  vector(std::size_t n, T value) : vector(n) { fill(value); }

  // The listed elements.
  vector(std::initializer_list<T> values) : vector(values.size()) {
    std::size_t i = 0;
    for (const T& v : values) data_[i++] = v;
  }

  // Non-owning view of data[0, n); the memory must outlive the view and is never freed.
  static vector view(T* data, std::size_t n) noexcept {
    vector v;
    v.data_ = data;
    v.size_ = n;
    v.owner_ = false;
    return v;
  }

  // Owning deep copy, also when `other` is a view.
  vector(const vector& other) : vector(other.size_) { copy_elements(other.data_); }

  // Takes over the buffer (or the view); `other` is left empty.
  vector(vector&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
        owner_(std::exchange(other.owner_, true)) {}

  // Into a view: writes through (sizes must match). Otherwise: owning deep copy.
  vector& operator=(const vector& other) {
    if (this == &other) return *this;
    if (!owner_) {
      details::check_size(other.size_, size_);
    } else if (size_ != other.size_) {
      vector fresh(other.size_);
      swap(fresh);
    }
    copy_elements(other.data_);
    return *this;
  }

  // Into a view: writes through like copy assignment, so `m.row(i) = v` never silently
  // rebinds a temporary view. Otherwise: takes over `other`'s buffer or view.
  vector& operator=(vector&& other) {
    if (this == &other) return *this;
    if (!owner_) return *this = static_cast<const vector&>(other);
    vector taken(std::move(other));
    swap(taken);
    return *this;
  }

  ~vector() {
    if (owner_) details::free_elements(data_);
  }

  // Evaluates an element-wise expression into this vector (see expression.h).
  template <details::node E>
  vector& operator=(const E& e) {
    details::assign<vector_shape, details::assign_store>(data_, size_, e);
    return *this;
  }
  // this[i] += e[i]; e may be an expression, a vector or a scalar.
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  vector& operator+=(const E& e) {
    details::assign<vector_shape, details::compound_store<details::plus_op>>(data_, size_, e);
    return *this;
  }
  // this[i] -= e[i].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  vector& operator-=(const E& e) {
    details::assign<vector_shape, details::compound_store<details::minus_op>>(data_, size_, e);
    return *this;
  }
  // this[i] *= e[i].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  vector& operator*=(const E& e) {
    details::assign<vector_shape, details::compound_store<details::multiplies_op>>(data_, size_, e);
    return *this;
  }
  // this[i] /= e[i].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  vector& operator/=(const E& e) {
    details::assign<vector_shape, details::compound_store<details::divides_op>>(data_, size_, e);
    return *this;
  }

  // Number of elements.
  std::size_t size() const noexcept { return size_; }
  // True when size() == 0.
  bool empty() const noexcept { return size_ == 0; }
  // First element; 64-byte aligned when owning, nullptr when empty and owning.
  T* data() noexcept { return data_; }
  // First element (read-only).
  const T* data() const noexcept { return data_; }
  // Element i, unchecked.
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  // Element i, unchecked (read-only).
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  // Iterators over the elements.
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  // True for a non-owning view.
  bool is_view() const noexcept { return !owner_; }

  // n zero elements; previous content is discarded. Views cannot be resized.
  void resize(std::size_t n) {
    TARVEX_CHECK_TEXT(owner_, "cannot resize a view");
    if (n != size_) {
      vector fresh(n);
      swap(fresh);
    } else {
      fill(T());
    }
  }

  // Sets every element to value.
  void fill(T value) noexcept {
    for (std::size_t i = 0; i < size_; ++i) data_[i] = value;
  }

  // Same size and exactly equal elements (so NaN != NaN).
  friend bool operator==(const vector& a, const vector& b) noexcept {
    if (a.size_ != b.size_) return false;
    for (std::size_t i = 0; i < a.size_; ++i)
      if (!(a.data_[i] == b.data_[i])) return false;
    return true;
  }

  // Exchanges contents, ownership included.
  void swap(vector& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(owner_, other.owner_);
  }

 private:
  void copy_elements(const T* from) noexcept {
    // Element loop rather than memcpy: source and destination may be the same view.
    for (std::size_t i = 0; i < size_; ++i) data_[i] = from[i];
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  bool owner_ = true;
};

}  // namespace tarvex
