#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

#include "Core/check.h"
#include "Core/cpu_allocator.h"

namespace tarvex {
namespace {

void validate_sizes(std::size_t rows, std::size_t dates) {
  TARVEX_CHECK(rows == dates, "decays size ", rows, " is differents from decays dates size ", dates);
}

TEST(check, message_has_condition_two_blanks_and_detail) {
  try {
    validate_sizes(3, 2);
    FAIL() << "no throw";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Expected rows == dates to be true, but got false.  decays size 3 is differents from decays dates size 2");
    EXPECT_EQ(e.location().function, "validate_sizes");
    EXPECT_EQ(e.location().file, "Library/Core/tests/check_test");  // real path, no extension
    EXPECT_GT(e.location().line, 0);
  }
}

TEST(check, fixed_text_and_number_formatting) {
  EXPECT_THROW(TARVEX_FAIL("invalide discount_id!"), Error);
  try {
    TARVEX_CHECK_TEXT(false, "x=", 0.1, " n=", -3, " b=", true);
  } catch (const Error& e) {
    // doubles print in their shortest exact form
    EXPECT_STREQ(e.what(), "x=0.1 n=-3 b=true");
  }
  EXPECT_EQ(details::source_path("/a/b/Library/Analytics/parameters/parameter_markovian_hjm.cpp"),
            "Library/Analytics/parameters/parameter_markovian_hjm");
}

TEST(check, not_implemented_is_an_error) {
  const NotImplementedError e({"coefficients", "Library/x", 7}, "not implemented");
  const Error& base = e;
  EXPECT_EQ(base.location().function, "coefficients");
  EXPECT_EQ(base.full_text(), "Library/x:7 coefficients: not implemented");
}

TEST(cpu_allocator, aligned_counted_and_refuses_huge_requests) {
  const auto before = cpu_allocator::allocation_count();
  for (std::size_t bytes : {0, 1, 63, 64, 1000}) {
    void* p = cpu_allocator::allocate(bytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u) << bytes;
    cpu_allocator::free(p);
  }
  EXPECT_EQ(cpu_allocator::allocation_count(), before + 5);
  try {
    cpu_allocator::allocate(std::numeric_limits<std::size_t>::max() - 8);
    FAIL();
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "std::bad_alloc");
  }
}

}  // namespace
}  // namespace tarvex
