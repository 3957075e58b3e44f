#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "Core/cpu_allocator.h"
#include "Core/error.h"
#include "Vectorization/matrix.h"
#include "Vectorization/tensor.h"
#include "Vectorization/vector.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

bool aligned64(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 64 == 0; }

using testing::error_text;

TEST(vector_test, construction_fills_and_aligns) {
  EXPECT_TRUE(vector<double>().empty());
  EXPECT_EQ(vector<double>().data(), nullptr);
  for (std::size_t n : {1u, 3u, 17u, 1000u}) {
    vector<double> z(n);
    EXPECT_TRUE(aligned64(z.data()));
    for (double x : z) EXPECT_EQ(x, 0.0);
  }
  vector<double> v(5, 2.5);
  EXPECT_EQ(v, (vector<double>{2.5, 2.5, 2.5, 2.5, 2.5}));
  vector<double> l{1, 2, 3};
  EXPECT_EQ(l.size(), 3u);
  EXPECT_EQ(l[2], 3.0);
  EXPECT_FALSE(l == (vector<double>{1, 2}));
  EXPECT_FALSE(l.is_view());
}

TEST(vector_test, view_writes_through_and_never_frees) {
  alignas(64) double raw[4] = {1, 2, 3, 4};
  const auto before = cpu_allocator::allocation_count();
  {
    vector<double> v = vector<double>::view(raw, 4);
    EXPECT_TRUE(v.is_view());
    EXPECT_EQ(cpu_allocator::allocation_count(), before);
    v[1] = 20;
    v.fill(7);
  }  // destroying the view must not free the stack array (ASan would report it)
  EXPECT_EQ(raw[0], 7.0);
  EXPECT_EQ(raw[3], 7.0);
  vector<double> v = vector<double>::view(raw, 4);
  EXPECT_EQ(error_text([&] { v.resize(8); }), "cannot resize a view");
}

TEST(vector_test, copies_are_deep_and_owning) {
  double raw[3] = {1, 2, 3};
  vector<double> view = vector<double>::view(raw, 3);
  vector<double> copy(view);
  EXPECT_FALSE(copy.is_view());
  EXPECT_NE(copy.data(), raw);
  EXPECT_TRUE(aligned64(copy.data()));
  copy[0] = 100;
  EXPECT_EQ(raw[0], 1.0);

  vector<double> assigned;
  assigned = view;
  EXPECT_FALSE(assigned.is_view());
  assigned[1] = 200;
  EXPECT_EQ(raw[1], 2.0);

  // Assigning into a view writes through it instead of rebinding it.
  vector<double> source{7, 8, 9};
  view = source;
  EXPECT_TRUE(view.is_view());
  EXPECT_EQ(raw[2], 9.0);
  view = vector<double>{4, 5, 6};  // moved temporary: still written through
  EXPECT_EQ(raw[0], 4.0);
  EXPECT_NE(error_text([&] { view = vector<double>{1, 2}; }).find("expression has diferrent size 2 than destination 3"),
            std::string::npos);
}

TEST(vector_test, moves_keep_ownership_or_viewness) {
  vector<double> a{1, 2, 3};
  const double* p = a.data();
  vector<double> b(std::move(a));
  EXPECT_EQ(b.data(), p);
  EXPECT_TRUE(a.empty());
  double raw[2] = {1, 2};
  vector<double> c(vector<double>::view(raw, 2));
  EXPECT_TRUE(c.is_view());
  EXPECT_EQ(c.data(), raw);
  b = std::move(c);
  EXPECT_TRUE(b.is_view());
  EXPECT_EQ(b.data(), raw);

  vector<double> r{1, 2};
  r.resize(4);
  EXPECT_EQ(r, (vector<double>{0, 0, 0, 0}));
}

TEST(matrix_test, layout_rows_and_errors) {
  matrix<double> m{{1, 2, 3}, {4, 5, 6}};
  EXPECT_EQ(m.rows(), 2u);
  EXPECT_EQ(m.columns(), 3u);
  EXPECT_EQ(m.data()[4], 5.0);  // row-major
  EXPECT_EQ(m(1, 2), 6.0);
  EXPECT_TRUE(aligned64(m.data()));

  vector<double> r = m.row(1);
  EXPECT_TRUE(r.is_view());
  r[0] = 40;
  EXPECT_EQ(m(1, 0), 40.0);
  m.row(0) = vector<double>{7, 8, 9};
  EXPECT_EQ(m(0, 2), 9.0);
  const matrix<double>& cm = m;
  EXPECT_EQ(cm.row(1)[2], 6.0);
  EXPECT_EQ(cm.row_data(1), m.data() + 3);

  EXPECT_EQ(error_text([] { matrix<double>{{1, 2}, {3}}; }), "matrix rows have different lengths");
  const std::size_t big = std::numeric_limits<std::size_t>::max() / 2 + 1;
  EXPECT_EQ(error_text([&] { matrix<double>(big, 4); }), "container size overflows");
  // 2^32 * 2^32 wraps to 0 on 64-bit: must be caught, not allocate an empty buffer.
  EXPECT_EQ(error_text([] { matrix<double>(std::size_t{1} << 32, std::size_t{1} << 32); }),
            "container size overflows");
  EXPECT_EQ(error_text([] { matrix<double>(std::size_t{1} << 62, 1); }), "container size overflows");
}

TEST(matrix_test, copy_view_resize) {
  double raw[6] = {1, 2, 3, 4, 5, 6};
  matrix<double> v = matrix<double>::view(raw, 2, 3);
  matrix<double> c = static_cast<const matrix<double>&>(v);
  EXPECT_FALSE(c.is_view());
  c(0, 0) = -1;
  EXPECT_EQ(raw[0], 1.0);
  EXPECT_EQ(v(0, 0), 1.0);
  c = matrix<double>(3, 2, 1.5);
  EXPECT_EQ(c.rows(), 3u);
  v = c;  // writes through, the view keeps its 2 x 3 shape
  EXPECT_EQ(v.rows(), 2u);
  EXPECT_EQ(raw[5], 1.5);
  EXPECT_NE(error_text([&] { v = matrix<double>(2, 2); }).find("expression has diferrent size 4 than destination 6"),
            std::string::npos);
  c.resize(2, 5);
  EXPECT_EQ(c, matrix<double>(2, 5));
  EXPECT_FALSE(matrix<double>(2, 3) == matrix<double>(3, 2));
}

TEST(tensor_test, row_major_indexing_and_copies) {
  tensor<double> t({2, 3, 4});
  EXPECT_EQ(t.size(), 24u);
  EXPECT_EQ(t.dim(2), 4u);
  EXPECT_TRUE(aligned64(t.data()));
  for (std::size_t i = 0; i < 2; ++i)
    for (std::size_t j = 0; j < 3; ++j)
      for (std::size_t k = 0; k < 4; ++k) t(i, j, k) = 100.0 * i + 10.0 * j + k;
  for (std::size_t n = 0; n < 24; ++n)  // last index fastest
    EXPECT_EQ(t.data()[n], 100.0 * (n / 12) + 10.0 * (n / 4 % 3) + n % 4);

  tensor<double> v = tensor<double>::view(t.data(), {6, 4});
  EXPECT_EQ(v(5, 3), t(1, 2, 3));
  tensor<double> copy = static_cast<const tensor<double>&>(v);
  copy(0, 0) = -1;
  EXPECT_EQ(t(0, 0, 0), 0.0);
  EXPECT_EQ(copy.dims(), (std::vector<std::size_t>{6, 4}));

  EXPECT_EQ(error_text([&] { t(1, 2); }), "tensor index count does not match its rank");
  EXPECT_EQ(error_text([&] { (void)t.dim(3); }), "tensor dimension out of range");
  EXPECT_EQ(tensor<double>().size(), 0u);
}

}  // namespace
}  // namespace tarvex
