#pragma once
// Lazy element-wise arithmetic on vector, matrix and tensor.
//
//   y = exp(x * 0.5) + y;          // one pass, no temporaries, no allocation
//
// Operators build small expression nodes; assignment into a container (=, +=, -=, *=,
// /=) evaluates them in blocks of `block_size` doubles through stack buffers. Each node
// works on a whole block at once: exp/expm1/log call the SIMD kernels of
// vectorized_math.h, arithmetic nodes are plain loops the compiler vectorises.
//
// Rules:
// - All operands and the destination must have the same number of elements, otherwise
//   tarvex::Error "... expression has diferrent size <n> than destination <m>". Operands of different container kinds
//   (vector with matrix) do not compile. Matrices combine element by element: `a * b`
//   is never a matrix product.
// - The destination may appear in the expression element by element (x = x * 2 + y);
//   operands that overlap it at an offset are not supported.
// - Nodes keep pointers into the operands' storage: never keep an expression in `auto`,
//   assign it in the same statement.
#include <concepts>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "Core/check.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {

// Container kinds; operands of different kinds never mix.
struct vector_shape {};
struct matrix_shape {};
struct tensor_shape {};

namespace details {

inline constexpr std::size_t block_size = 256;

// Containers announce themselves with `using expression_shape = ...`.
template <class T>
concept container = requires(const T& t) {
  typename T::expression_shape;
  { t.data() } -> std::convertible_to<const double*>;
  { t.size() } -> std::convertible_to<std::size_t>;
};

template <class T>
concept node = requires { typename T::tarvex_expression_node; };

template <class T>
concept operand = node<std::remove_cvref_t<T>> || container<std::remove_cvref_t<T>>;

template <class T>
concept scalar_like = std::is_arithmetic_v<std::remove_cvref_t<T>>;

// Leaf reading a container's storage in place.
template <class Shape>
struct terminal {
  using tarvex_expression_node = void;
  using shape = Shape;
  const double* data;
  std::size_t n;
  std::size_t size() const noexcept { return n; }
  const double* block(std::size_t offset, std::size_t, double*) const noexcept { return data + offset; }
};

struct scalar {
  double value;
};

template <class T>
inline constexpr bool is_scalar = std::is_same_v<T, scalar>;

template <class T>
auto as_node(const T& x) {
  if constexpr (node<T>)
    return x;
  else if constexpr (container<T>)
    return terminal<typename T::expression_shape>{x.data(), static_cast<std::size_t>(x.size())};
  else
    return scalar{static_cast<double>(x)};
}

template <class T>
using node_t = decltype(as_node(std::declval<const T&>()));

// Binary node. `block` writes into `scratch` (owned by the caller, never user memory) and
// returns it; a leaf returns a pointer into its container instead. The left operand may
// use `scratch` itself, the right one gets this node's own stack buffer.
template <class Op, class L, class R>
struct binary {
  using tarvex_expression_node = void;
  using shape = typename std::conditional_t<is_scalar<L>, R, L>::shape;
  L l;
  R r;

  std::size_t size() const noexcept {
    if constexpr (is_scalar<L>)
      return r.size();
    else
      return l.size();
  }

  const double* block(std::size_t offset, std::size_t n, double* scratch) const {
    if constexpr (is_scalar<L>) {
      const double s = l.value;
      const double* b = r.block(offset, n, scratch);
      for (std::size_t i = 0; i < n; ++i) scratch[i] = Op::apply(s, b[i]);
    } else if constexpr (is_scalar<R>) {
      const double s = r.value;
      const double* a = l.block(offset, n, scratch);
      for (std::size_t i = 0; i < n; ++i) scratch[i] = Op::apply(a[i], s);
    } else {
      alignas(64) double buffer[block_size];
      const double* a = l.block(offset, n, scratch);
      const double* b = r.block(offset, n, buffer);
      for (std::size_t i = 0; i < n; ++i) scratch[i] = Op::apply(a[i], b[i]);
    }
    return scratch;
  }
};

// Unary node: the function runs on the whole block; `in` may equal `out`.
template <class F, class E>
struct unary {
  using tarvex_expression_node = void;
  using shape = typename E::shape;
  E e;
  std::size_t size() const noexcept { return e.size(); }
  const double* block(std::size_t offset, std::size_t n, double* scratch) const {
    F::apply(e.block(offset, n, scratch), scratch, n);
    return scratch;
  }
};

struct plus_op {
  static double apply(double a, double b) noexcept { return a + b; }
};
struct minus_op {
  static double apply(double a, double b) noexcept { return a - b; }
};
struct multiplies_op {
  static double apply(double a, double b) noexcept { return a * b; }
};
struct divides_op {
  static double apply(double a, double b) noexcept { return a / b; }
};
// Written as comparisons (not std::fmax) so the loops vectorise; a NaN in `a` yields `b`.
struct max_op {
  static double apply(double a, double b) noexcept { return a > b ? a : b; }
};
struct min_op {
  static double apply(double a, double b) noexcept { return a < b ? a : b; }
};

struct negate_fn {
  static void apply(const double* in, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = -in[i];
  }
};
struct abs_fn {
  static void apply(const double* in, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = __builtin_fabs(in[i]);
  }
};
struct sqrt_fn {
  static void apply(const double* in, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = __builtin_sqrt(in[i]);
  }
};
struct exp_fn {
  static void apply(const double* in, double* out, std::size_t n) { vexp(in, out, n); }
};
struct expm1_fn {
  static void apply(const double* in, double* out, std::size_t n) { vexpm1(in, out, n); }
};
struct log_fn {
  static void apply(const double* in, double* out, std::size_t n) { vlog(in, out, n); }
};

template <class Op, class A, class B>
auto make_binary(const A& a, const B& b) {
  using L = node_t<A>;
  using R = node_t<B>;
  binary<Op, L, R> result{as_node(a), as_node(b)};
  if constexpr (!is_scalar<L> && !is_scalar<R>) {
    static_assert(std::is_same_v<typename L::shape, typename R::shape>,
                  "element-wise expressions combine containers of the same kind only");
    check_size(result.r.size(), result.l.size());
  }
  return result;
}

template <class F, class A>
auto make_unary(const A& a) {
  return unary<F, node_t<A>>{as_node(a)};
}

struct assign_store {
  static void apply(double* d, const double* s, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
  }
};
template <class Op>
struct compound_store {
  static void apply(double* d, const double* s, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = Op::apply(d[i], s[i]);
  }
};

// Evaluates `e` into dst[0, n) block by block; `Store` combines the block with dst.
// A block is finished before dst is written, which is what makes x = x * 2 + y safe.
template <class Shape, class Store, class E>
void assign(double* dst, std::size_t n, const E& e) {
  using N = node_t<E>;
  if constexpr (is_scalar<N>) {
    const double s = static_cast<double>(e);
    for (std::size_t i = 0; i < n; ++i) Store::apply(dst + i, &s, 1);
  } else {
    static_assert(std::is_same_v<typename N::shape, Shape>,
                  "element-wise expressions combine containers of the same kind only");
    const N root = as_node(e);
    check_size(root.size(), n);
    alignas(64) double buffer[block_size];
    for (std::size_t offset = 0; offset < n; offset += block_size) {
      const std::size_t m = n - offset < block_size ? n - offset : block_size;
      Store::apply(dst + offset, root.block(offset, m, buffer), m);
    }
  }
}

}  // namespace details

// Element-wise sum; either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto operator+(const A& a, const B& b) {
  return details::make_binary<details::plus_op>(a, b);
}

// Element-wise difference; either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto operator-(const A& a, const B& b) {
  return details::make_binary<details::minus_op>(a, b);
}

// Element-wise product (never a matrix product); either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto operator*(const A& a, const B& b) {
  return details::make_binary<details::multiplies_op>(a, b);
}

// Element-wise quotient; either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto operator/(const A& a, const B& b) {
  return details::make_binary<details::divides_op>(a, b);
}

// Element-wise maximum; either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto max(const A& a, const B& b) {
  return details::make_binary<details::max_op>(a, b);
}

// Element-wise minimum; either side may be a scalar.
template <class A, class B>
  requires(details::operand<A> && (details::operand<B> || details::scalar_like<B>)) ||
          (details::scalar_like<A> && details::operand<B>)
auto min(const A& a, const B& b) {
  return details::make_binary<details::min_op>(a, b);
}

// Element-wise negation.
template <details::operand A>
auto operator-(const A& a) {
  return details::make_unary<details::negate_fn>(a);
}

// Element-wise |x|.
template <details::operand A>
auto abs(const A& a) {
  return details::make_unary<details::abs_fn>(a);
}

// Element-wise square root (correctly rounded).
template <details::operand A>
auto sqrt(const A& a) {
  return details::make_unary<details::sqrt_fn>(a);
}

// Element-wise e^x through vexp (max error 1 ulp).
template <details::operand A>
auto exp(const A& a) {
  return details::make_unary<details::exp_fn>(a);
}

// Element-wise e^x - 1 through vexpm1 (max error 1 ulp).
template <details::operand A>
auto expm1(const A& a) {
  return details::make_unary<details::expm1_fn>(a);
}

// Element-wise natural log through vlog (max error 1 ulp).
template <details::operand A>
auto log(const A& a) {
  return details::make_unary<details::log_fn>(a);
}

// Sum of all elements of a container or expression, evaluated block by block.
template <details::operand A>
double sum(const A& a) {
  const auto root = details::as_node(a);
  const std::size_t n = root.size();
  alignas(64) double buffer[details::block_size];
  // Four running sums let the additions pipeline; the order is fixed, so results are
  // reproducible.
  double s[4] = {0.0, 0.0, 0.0, 0.0};
  for (std::size_t offset = 0; offset < n; offset += details::block_size) {
    const std::size_t m = n - offset < details::block_size ? n - offset : details::block_size;
    const double* p = root.block(offset, m, buffer);
    std::size_t i = 0;
    for (; i + 4 <= m; i += 4)
      for (int k = 0; k < 4; ++k) s[k] += p[i + k];
    for (; i < m; ++i) s[0] += p[i];
  }
  return (s[0] + s[1]) + (s[2] + s[3]);
}

// Sum of a[i] * b[i]; sizes must match.
template <details::operand A, details::operand B>
double dot(const A& a, const B& b) {
  return sum(a * b);
}

}  // namespace tarvex
