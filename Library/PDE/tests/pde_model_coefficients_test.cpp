#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Core/error.h"
#include "PDE/pde_model_coefficients.h"

namespace tarvex {
namespace {

TEST(pde_model_coefficients, tensors_have_the_grid_shape_and_start_at_zero) {
  const std::vector<std::size_t> dims{4, 3};
  auto owned = std::make_shared<pde_model_coefficients>(dims, true);
  std::shared_ptr<const pde_model_coefficients> seen_by_model = owned;
  EXPECT_TRUE(seen_by_model->time_dependent());
  EXPECT_EQ(seen_by_model->dimensions(), dims);
  for (tensor<double>* t : {&seen_by_model->convection(), &seen_by_model->diffusion(), &seen_by_model->reaction()}) {
    EXPECT_EQ(t->dims(), dims);
    for (std::size_t i = 0; i < t->size(); ++i) EXPECT_EQ(t->data()[i], 0.0);
  }
  // A model writes through its const handle; the engine sees the numbers, in the right tensor.
  seen_by_model->diffusion()(2, 1) = 0.25;
  EXPECT_EQ(owned->diffusion()(2, 1), 0.25);
  EXPECT_EQ(owned->convection()(2, 1), 0.0);
  EXPECT_EQ(owned->reaction()(2, 1), 0.0);
  EXPECT_FALSE(pde_model_coefficients({5}, false).time_dependent());
}

TEST(pde_model_coefficients, refuses_empty_or_zero_extents) {
  for (const std::vector<std::size_t>& bad : {std::vector<std::size_t>{}, std::vector<std::size_t>{3, 0}}) {
    try {
      pde_model_coefficients c(bad, false);
      ADD_FAILURE() << "no throw";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "pde_model_coefficients dimensions must be non-empty and positive");
    }
  }
}

}  // namespace
}  // namespace tarvex
