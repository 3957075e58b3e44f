#pragma once
#include <cstddef>
#include <initializer_list>
#include <utility>

#include "Core/check.h"
#include "Vectorization/details/storage.h"
#include "Vectorization/expression.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Dense row-major rows x columns array, owning (64-byte aligned, cpu_allocator) or a
// non-owning view. Copy and move behave as for vector: copies are deep, assignment into
// a view writes through (sizes must match), moves keep ownership or viewness.
// Expressions on matrices are element-wise; a * b is never a matrix product.
template <class T>
class matrix {
 public:
  using value_type = T;
  using expression_shape = matrix_shape;

  // Empty 0 x 0 matrix; allocates nothing.
  matrix() noexcept = default;

  // rows x columns zeros; throws "container size overflows" if the product wraps.
  matrix(std::size_t rows, std::size_t columns)
      : data_(details::allocate_elements<T>(details::checked_product(rows, columns))), rows_(rows),
        columns_(columns) {}

  // rows x columns copies of value.
  matrix(std::size_t rows, std::size_t columns, T value) : matrix(rows, columns) { fill(value); }

  // One inner list per row; all rows must have the same length.
  matrix(std::initializer_list<std::initializer_list<T>> values)
      : matrix(values.size(), values.size() == 0 ? 0 : values.begin()->size()) {
    std::size_t i = 0;
    for (const auto& row : values) {
      TARVEX_CHECK_TEXT(row.size() == columns_, "matrix rows have different lengths");
      std::size_t j = 0;
      for (const T& v : row) (*this)(i, j++) = v;
      ++i;
    }
  }

  // Non-owning view of rows * columns elements at data; never freed.
  static matrix view(T* data, std::size_t rows, std::size_t columns) {
    details::checked_product(rows, columns);
    matrix m;
    m.data_ = data;
    m.rows_ = rows;
    m.columns_ = columns;
    m.owner_ = false;
    return m;
  }

  // Owning deep copy, also when `other` is a view.
  matrix(const matrix& other) : matrix(other.rows_, other.columns_) { copy_elements(other.data_); }

  // Takes over the buffer (or the view); `other` is left empty.
  matrix(matrix&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), rows_(std::exchange(other.rows_, 0)),
        columns_(std::exchange(other.columns_, 0)), owner_(std::exchange(other.owner_, true)) {}

  // Into a view: writes through (same size required; the view keeps its own shape).
  // Otherwise: owning deep copy with other's shape.
  matrix& operator=(const matrix& other) {
    if (this == &other) return *this;
    if (!owner_) {
      details::check_size(other.size(), size());
    } else if (size() != other.size()) {
      matrix fresh(other.rows_, other.columns_);
      swap(fresh);
    } else {
      rows_ = other.rows_;
      columns_ = other.columns_;
    }
    copy_elements(other.data_);
    return *this;
  }

  // Into a view: writes through like copy assignment. Otherwise: takes over other's
  // buffer or view.
  matrix& operator=(matrix&& other) {
    if (this == &other) return *this;
    if (!owner_) return *this = static_cast<const matrix&>(other);
    matrix taken(std::move(other));
    swap(taken);
    return *this;
  }

  ~matrix() {
    if (owner_) details::free_elements(data_);
  }

  // Evaluates an element-wise expression into this matrix (see expression.h).
  template <details::node E>
  matrix& operator=(const E& e) {
    details::assign<matrix_shape, details::assign_store>(data_, size(), e);
    return *this;
  }
  // this(i, j) += e(i, j); e may be an expression, a matrix or a scalar.
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  matrix& operator+=(const E& e) {
    details::assign<matrix_shape, details::compound_store<details::plus_op>>(data_, size(), e);
    return *this;
  }
  // this(i, j) -= e(i, j).
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  matrix& operator-=(const E& e) {
    details::assign<matrix_shape, details::compound_store<details::minus_op>>(data_, size(), e);
    return *this;
  }
  // this(i, j) *= e(i, j), element-wise.
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  matrix& operator*=(const E& e) {
    details::assign<matrix_shape, details::compound_store<details::multiplies_op>>(data_, size(), e);
    return *this;
  }
  // this(i, j) /= e(i, j).
  template <class E>
    requires details::operand<E> || details::scalar_like<E>
  matrix& operator/=(const E& e) {
    details::assign<matrix_shape, details::compound_store<details::divides_op>>(data_, size(), e);
    return *this;
  }

  // Number of rows.
  std::size_t rows() const noexcept { return rows_; }
  // Number of columns.
  std::size_t columns() const noexcept { return columns_; }
  // rows() * columns().
  std::size_t size() const noexcept { return rows_ * columns_; }
  // True when size() == 0.
  bool empty() const noexcept { return size() == 0; }
  // Element (0, 0); rows are contiguous, 64-byte aligned start when owning.
  T* data() noexcept { return data_; }
  // Element (0, 0) (read-only).
  const T* data() const noexcept { return data_; }
  // Element (i, j), unchecked.
  T& operator()(std::size_t i, std::size_t j) noexcept { return data_[i * columns_ + j]; }
  // Element (i, j), unchecked (read-only).
  const T& operator()(std::size_t i, std::size_t j) const noexcept { return data_[i * columns_ + j]; }

  // View of row i; writes go into the matrix.
  vector<T> row(std::size_t i) noexcept { return vector<T>::view(data_ + i * columns_, columns_); }
  // Read-only view of row i. Constness is shallow: the result is a const view, but a
  // vector initialised from it (vector<T> r = m.row(i)) is a writable view.
  const vector<T> row(std::size_t i) const noexcept {
    return vector<T>::view(const_cast<T*>(data_) + i * columns_, columns_);
  }
  // Pointer to row i (read-only) for callers that want no view at all.
  const T* row_data(std::size_t i) const noexcept { return data_ + i * columns_; }

  // rows x columns zeros; previous content is discarded. Views cannot be resized.
  void resize(std::size_t rows, std::size_t columns) {
    TARVEX_CHECK_TEXT(owner_, "cannot resize a view");
    if (details::checked_product(rows, columns) != size()) {
      matrix fresh(rows, columns);
      swap(fresh);
    } else {
      rows_ = rows;
      columns_ = columns;
      fill(T());
    }
  }

  // Sets every element to value.
  void fill(T value) noexcept {
    const std::size_t n = size();
    for (std::size_t i = 0; i < n; ++i) data_[i] = value;
  }

  // True for a non-owning view.
  bool is_view() const noexcept { return !owner_; }

  // Same shape and exactly equal elements.
  friend bool operator==(const matrix& a, const matrix& b) noexcept {
    if (a.rows_ != b.rows_ || a.columns_ != b.columns_) return false;
    const std::size_t n = a.size();
    for (std::size_t i = 0; i < n; ++i)
      if (!(a.data_[i] == b.data_[i])) return false;
    return true;
  }

  // Exchanges contents, ownership included.
  void swap(matrix& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(rows_, other.rows_);
    std::swap(columns_, other.columns_);
    std::swap(owner_, other.owner_);
  }

 private:
  void copy_elements(const T* from) noexcept {
    const std::size_t n = size();
    for (std::size_t i = 0; i < n; ++i) data_[i] = from[i];
  }

  T* data_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t columns_ = 0;
  bool owner_ = true;
};

}  // namespace tarvex
