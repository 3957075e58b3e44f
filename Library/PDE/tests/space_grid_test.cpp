#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "Core/error.h"
#include "PDE/space_grid.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;

TEST(space_grid, keeps_valid_axes) {
  const space_grid g(vector<double>{-1.0, 0.0, 0.5, 4.0});
  EXPECT_EQ(g.size(), 4u);
  EXPECT_EQ(g.axis(), (vector<double>{-1.0, 0.0, 0.5, 4.0}));
  EXPECT_EQ(space_grid(vector<double>{3.0}).size(), 1u);
}

TEST(space_grid, refuses_unsorted_repeated_or_non_finite_nodes) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const vector<double>& bad : {vector<double>{0.0, 1.0, 1.0}, vector<double>{1.0, 0.0}, vector<double>{nan},
                                     vector<double>{0.0, nan, 2.0}, vector<double>{0.0, 1.0, inf},
                                     vector<double>{-inf, 0.0}})
    EXPECT_EQ(error_text([&] { space_grid g(bad); }), "space_grid axis must be finite and strictly ascending");
  EXPECT_EQ(error_text([] { space_grid g{vector<double>()}; }), "space_grid axis must not be empty");
}

TEST(space_grid, uniform_has_exact_ends_and_equal_spacing) {
  const space_grid g = space_grid::uniform(-0.3, 0.7, 11);
  ASSERT_EQ(g.size(), 11u);
  EXPECT_EQ(g.axis()[0], -0.3);
  EXPECT_EQ(g.axis()[10], 0.7);
  for (std::size_t i = 0; i < 11; ++i) EXPECT_NEAR(g.axis()[i], -0.3 + 0.1 * double(i), 1e-15);
  // high - low overflows here; the nodes must not.
  const double big = std::numeric_limits<double>::max();
  const space_grid wide = space_grid::uniform(-big, big, 3);
  EXPECT_EQ(wide.axis()[1], 0.0);

  EXPECT_EQ(error_text([] { space_grid::uniform(0.0, 1.0, 1); }), "space_grid::uniform needs at least 2 nodes");
  EXPECT_EQ(error_text([] { space_grid::uniform(1.0, 0.0, 5); }),
            "space_grid axis must be finite and strictly ascending");
}

}  // namespace
}  // namespace tarvex
