#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "Core/check.h"
#include "Vectorization/details/storage.h"
#include "Vectorization/expression.h"

namespace tarvex {

// Dense n-dimensional array in row-major order (last index fastest), owning
// (64-byte aligned, cpu_allocator) or a non-owning view. Copy and move behave as for
// vector. The extents live in a small std::vector; only the elements use cpu_allocator.
template <class T>
class tensor {
 public:
  using value_type = T;
  using expression_shape = tensor_shape;

  // Empty rank-0 tensor holding no elements; allocates nothing.
  tensor() = default;

  // Zero-filled tensor with extents `dims`.
  explicit tensor(std::vector<std::size_t> dims)
      : dims_(std::move(dims)), size_(element_count(dims_)), data_(details::allocate_elements<T>(size_)) {
    compute_strides();
  }

  // Non-owning view of the elements at data with extents `dims`; never freed.
  static tensor view(T* data, std::vector<std::size_t> dims) {
    tensor t;
    t.dims_ = std::move(dims);
    t.size_ = element_count(t.dims_);
    t.data_ = data;
    t.owner_ = false;
    t.compute_strides();
    return t;
  }

  // Owning deep copy, also when `other` is a view.
  tensor(const tensor& other) : tensor(other.dims_) { copy_elements(other.data_); }

  // Takes over the buffer (or the view); `other` is left empty.
  tensor(tensor&& other) noexcept
      : dims_(std::move(other.dims_)), strides_(std::move(other.strides_)), size_(std::exchange(other.size_, 0)),
        data_(std::exchange(other.data_, nullptr)), owner_(std::exchange(other.owner_, true)) {
    other.dims_.clear();
    other.strides_.clear();
  }

  // Into a view: writes through (same size required, the view keeps its extents).
  // Otherwise: owning deep copy with other's extents.
  tensor& operator=(const tensor& other) {
    if (this == &other) return *this;
    if (!owner_) {
      details::check_size(other.size_, size_);
    } else if (size_ != other.size_) {
      tensor fresh(other.dims_);
      swap(fresh);
    } else {
      dims_ = other.dims_;
      strides_ = other.strides_;
    }
    copy_elements(other.data_);
    return *this;
  }

  // Into a view: writes through like copy assignment. Otherwise: takes over other's
  // buffer or view.
  tensor& operator=(tensor&& other) {
    if (this == &other) return *this;
    if (!owner_) return *this = static_cast<const tensor&>(other);
    tensor taken(std::move(other));
    swap(taken);
    return *this;
  }

  ~tensor() {
    if (owner_) details::free_elements(data_);
  }

  // Evaluates an element-wise expression into this tensor (see expression.h).
  template <details::node E>
  tensor& operator=(const E& e) {
    details::assign<tensor_shape, details::assign_store>(data_, size_, e);
    return *this;
  }
  // this[...] += e[...]; e may be an expression, a tensor or a scalar.
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  tensor& operator+=(const E& e) {
    details::assign<tensor_shape, details::compound_store<details::plus_op>>(data_, size_, e);
    return *this;
  }
  // this[...] -= e[...].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  tensor& operator-=(const E& e) {
    details::assign<tensor_shape, details::compound_store<details::minus_op>>(data_, size_, e);
    return *this;
  }
  // this[...] *= e[...].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  tensor& operator*=(const E& e) {
    details::assign<tensor_shape, details::compound_store<details::multiplies_op>>(data_, size_, e);
    return *this;
  }

  // this[...] /= e[...].
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  tensor& operator/=(const E& e) {
    details::assign<tensor_shape, details::compound_store<details::divides_op>>(data_, size_, e);
    return *this;
  }

  // Extents, outermost first.
  const std::vector<std::size_t>& dims() const noexcept { return dims_; }
  // Extent of dimension k, checked.
  std::size_t dim(std::size_t k) const {
    TARVEX_CHECK_TEXT(k < dims_.size(), "tensor dimension out of range");
    return dims_[k];
  }
  // Number of dimensions.
  std::size_t rank() const noexcept { return dims_.size(); }
  // Product of the extents (0 for a default-constructed tensor).
  std::size_t size() const noexcept { return size_; }
  // True when size() == 0.
  bool empty() const noexcept { return size_ == 0; }
  // First element; 64-byte aligned when owning.
  T* data() noexcept { return data_; }
  // First element (read-only).
  const T* data() const noexcept { return data_; }
  // True for a non-owning view.
  bool is_view() const noexcept { return !owner_; }

  // Element at (i, j, k, ...): one index per dimension (checked), values unchecked.
  template <class... I>
  T& operator()(I... index) {
    return data_[offset(index...)];
  }
  // Element at (i, j, k, ...) (read-only).
  template <class... I>
  const T& operator()(I... index) const {
    return data_[offset(index...)];
  }

  // Sets every element to value.
  void fill(T value) noexcept {
    for (std::size_t i = 0; i < size_; ++i) data_[i] = value;
  }

  // Same extents and exactly equal elements.
  friend bool operator==(const tensor& a, const tensor& b) noexcept {
    if (a.dims_ != b.dims_) return false;
    for (std::size_t i = 0; i < a.size_; ++i)
      if (!(a.data_[i] == b.data_[i])) return false;
    return true;
  }

  // Exchanges contents, ownership included.
  void swap(tensor& other) noexcept {
    dims_.swap(other.dims_);
    strides_.swap(other.strides_);
    std::swap(size_, other.size_);
    std::swap(data_, other.data_);
    std::swap(owner_, other.owner_);
  }

 private:
  static std::size_t element_count(const std::vector<std::size_t>& dims) {
    if (dims.empty()) return 0;
    std::size_t n = 1;
    for (std::size_t d : dims) n = details::checked_product(n, d);
    return n;
  }

  void compute_strides() {
    strides_.assign(dims_.size(), 1);
    for (std::size_t k = dims_.size(); k-- > 1;) strides_[k - 1] = strides_[k] * dims_[k];
  }

  template <class... I>
  std::size_t offset(I... index) const {
    TARVEX_CHECK_TEXT(sizeof...(I) == dims_.size(), "tensor index count does not match its rank");
    std::size_t result = 0;
    std::size_t k = 0;
    ((result += static_cast<std::size_t>(index) * strides_[k++]), ...);
    return result;
  }

  void copy_elements(const T* from) noexcept {
    for (std::size_t i = 0; i < size_; ++i) data_[i] = from[i];
  }

  std::vector<std::size_t> dims_;
  std::vector<std::size_t> strides_;
  std::size_t size_ = 0;
  T* data_ = nullptr;
  bool owner_ = true;
};

}  // namespace tarvex
