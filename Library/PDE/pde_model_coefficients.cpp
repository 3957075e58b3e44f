#include "PDE/pde_model_coefficients.h"

#include <algorithm>
#include <utility>

#include "Core/check.h"

namespace tarvex {
namespace {

std::vector<std::size_t> checked(std::vector<std::size_t> dimensions) {
  TARVEX_CHECK_TEXT(!dimensions.empty() && std::find(dimensions.begin(), dimensions.end(), std::size_t{0}) == dimensions.end(),
                    "pde_model_coefficients dimensions must be non-empty and positive");
  return dimensions;
}

}  // namespace

pde_model_coefficients::pde_model_coefficients(std::vector<std::size_t> dimensions, bool time_dependent)
    : dimensions_(checked(std::move(dimensions))),
      time_dependent_(time_dependent),
      convection_(dimensions_),
      diffusion_(dimensions_),
      reaction_(dimensions_) {}

}  // namespace tarvex
