#include "Analytics/parameters/parameter_lognormal.h"

#include <cmath>
#include <limits>

#include "Analytics/foundations/serialization_io.h"
#include "Analytics/foundations/state_parameter_blocks.h"
#include "Core/check.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(parameter_lognormal)

parameter_lognormal::parameter_lognormal(const matrix<double>& volatilities, const matrix<double>& correlation,
                                         const std::vector<datetime>& volatilities_dates,
                                         const std::shared_ptr<const day_count_convention>& day_convention)
    : volatilities_(volatilities),
      correlation_(correlation),
      volatilities_dates_(volatilities_dates),
      day_convention_(day_convention) {
  initialize();
}

void parameter_lognormal::initialize() {
  if (!day_convention_) day_convention_ = std::make_shared<const day_count_convention>();
  validate();
  volatilities_offset_ = reserve_state_parameters(volatilities_.size());
  correlation_offset_ = reserve_state_parameters(state_blocks::strict_lower_size(number_of_factors()));
  finish_layout();
}

void parameter_lognormal::validate() const {
  TARVEX_CHECK(volatilities_.rows() == volatilities_dates_.size(), "volatilities size ", volatilities_.rows(),
               " is differents from volatilities dates size ", volatilities_dates_.size());
  TARVEX_CHECK(correlation_.rows() == correlation_.columns(), "correlation number of rows ", correlation_.rows(),
               " is differents from correlation number of columns ", correlation_.columns());
  constexpr double eps = std::numeric_limits<double>::epsilon();
  for (std::size_t i = 0; i < correlation_.rows(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      TARVEX_CHECK_TEXT(std::fabs(correlation_(i, j) - correlation_(j, i)) < eps, "correlation matrix is not symetric");
}

void parameter_lognormal::volatility_aad(const vector<double>& g, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  for (std::size_t f = 0; f < n; ++f) update_state_parameters(g[f], volatilities_offset_, row * n + f, gradient);
}

void parameter_lognormal::correlation_aad(const matrix<double>& G, double* gradient) const {
  const std::size_t n = number_of_factors();
  // One stored entry per pair: both triangles of the adjoint land on it.
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = 0; j < i; ++j)
      update_state_parameters(G(i, j) + G(j, i), correlation_offset_, state_blocks::strict_lower_index(i, j),
                              gradient);
}

void parameter_lognormal::finalize_aad(double*) const {}

std::size_t parameter_lognormal::get_state_parameters(double* out) const {
  std::size_t offset = 0;
  offset += state_blocks::write_dense(volatilities_, out + offset);
  offset += state_blocks::write_correlation(correlation_, number_of_factors(), out + offset);
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

std::size_t parameter_lognormal::set_state_parameters(const double* in) {
  std::size_t offset = 0;
  offset += state_blocks::read_dense(volatilities_, in + offset);
  offset += state_blocks::read_correlation(correlation_, number_of_factors(), in + offset);
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

}  // namespace tarvex
