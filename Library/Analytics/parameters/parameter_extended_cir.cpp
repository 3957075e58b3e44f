#include "Analytics/parameters/parameter_extended_cir.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Analytics/foundations/serialization_io.h"
#include "Analytics/foundations/state_parameter_blocks.h"
#include "Core/check.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(parameter_extended_cir)

parameter_extended_cir::parameter_extended_cir(const matrix<double>& mean_reversion_speeds,
                                               const matrix<double>& volatilities, const matrix<double>& shifts,
                                               const matrix<double>& correlation,
                                               const std::vector<datetime>& mean_reversion_speed_dates,
                                               const std::vector<datetime>& volatilities_dates,
                                               const std::vector<datetime>& shifts_dates,
                                               const std::shared_ptr<const day_count_convention>& day_convention)
    : parameter_extended_cir(mean_reversion_speeds, volatilities, shifts, correlation, mean_reversion_speed_dates,
                             volatilities_dates, shifts_dates, day_convention, matrix<double>(),
                             std::vector<double>()) {}

parameter_extended_cir::parameter_extended_cir(
    const matrix<double>& mean_reversion_speeds, const matrix<double>& volatilities, const matrix<double>& shifts,
    const matrix<double>& correlation, const std::vector<datetime>& mean_reversion_speed_dates,
    const std::vector<datetime>& volatilities_dates, const std::vector<datetime>& shifts_dates,
    const std::shared_ptr<const day_count_convention>& day_convention, const matrix<double>& long_term_levels,
    const std::vector<double>& initial_values)
    : mean_reversion_speeds_(mean_reversion_speeds),
      volatilities_(volatilities),
      shifts_(shifts),
      correlation_(correlation),
      mean_reversion_speed_dates_(mean_reversion_speed_dates),
      volatilities_dates_(volatilities_dates),
      shifts_dates_(shifts_dates),
      day_convention_(day_convention),
      long_term_levels_(long_term_levels),
      initial_values_(initial_values) {
  initialize();
}

void parameter_extended_cir::initialize() {
  if (!day_convention_) day_convention_ = std::make_shared<const day_count_convention>();
  // Absent extension (older files, the eight-argument constructor): theta = 0, x(0) = 0.
  if (long_term_levels_.empty())
    long_term_levels_ = matrix<double>(mean_reversion_speeds_.rows(), mean_reversion_speeds_.columns(), 0.0);
  if (initial_values_.empty()) initial_values_.assign(number_of_factors(), 0.0);
  validate();
  mean_reversion_speeds_offset_ = reserve_state_parameters(mean_reversion_speeds_.size());
  volatilities_offset_ = reserve_state_parameters(volatilities_.size());
  shifts_offset_ = reserve_state_parameters(shifts_.size());
  long_term_levels_offset_ = reserve_state_parameters(long_term_levels_.size());
  initial_values_offset_ = reserve_state_parameters(initial_values_.size());
  finish_layout();
}

void parameter_extended_cir::validate() const {
  TARVEX_CHECK(mean_reversion_speeds_.rows() == mean_reversion_speed_dates_.size(), "mean_reversion_speeds size ",
               mean_reversion_speeds_.rows(), " is differents from mean_reversion_speeds dates size ",
               mean_reversion_speed_dates_.size());
  TARVEX_CHECK(volatilities_.rows() == volatilities_dates_.size(), "volatilities size ", volatilities_.rows(),
               " is differents from volatilities dates size ", volatilities_dates_.size());
  TARVEX_CHECK(shifts_.rows() == shifts_dates_.size(), "shifts size ", shifts_.rows(),
               " is differents from shifts dates size ", shifts_dates_.size());
  TARVEX_CHECK(correlation_.rows() == correlation_.columns(), "correlation number of rows ", correlation_.rows(),
               " is differents from correlation number of columns ", correlation_.columns());
  constexpr double eps = std::numeric_limits<double>::epsilon();
  for (std::size_t i = 0; i < correlation_.rows(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      TARVEX_CHECK_TEXT(std::fabs(correlation_(i, j) - correlation_(j, i)) < eps, "correlation matrix is not symetric");
  // The extension's own checks come after the ones above, so their order is unchanged.
  TARVEX_CHECK(long_term_levels_.rows() == mean_reversion_speeds_.rows() &&
                   long_term_levels_.columns() == mean_reversion_speeds_.columns(),
               "long_term_levels ", long_term_levels_.rows(), " x ", long_term_levels_.columns(),
               " is differents from mean_reversion_speeds ", mean_reversion_speeds_.rows(), " x ",
               mean_reversion_speeds_.columns());
  TARVEX_CHECK(initial_values_.size() == number_of_factors(), "initial_values size ", initial_values_.size(),
               " is differents from number of factors ", number_of_factors());
  const auto non_negative = [](const double* first, std::size_t count) {
    return std::all_of(first, first + count, [](double v) { return v >= 0.0; });
  };
  TARVEX_CHECK_TEXT(non_negative(long_term_levels_.data(), long_term_levels_.size()) &&
                        non_negative(initial_values_.data(), initial_values_.size()),
                    "extended CIR long-term levels and initial values must be non-negative");
}

void parameter_extended_cir::mean_reversion_speed_aad(const vector<double>& g, std::size_t row,
                                                      double* gradient) const {
  const std::size_t n = number_of_factors();
  for (std::size_t f = 0; f < n; ++f) update_state_parameters(g[f], mean_reversion_speeds_offset_, row * n + f, gradient);
}

void parameter_extended_cir::volatility_aad(const vector<double>& g, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  for (std::size_t f = 0; f < n; ++f) update_state_parameters(g[f], volatilities_offset_, row * n + f, gradient);
}

void parameter_extended_cir::shift_aad(const vector<double>& g, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  for (std::size_t f = 0; f < n; ++f) update_state_parameters(g[f], shifts_offset_, row * n + f, gradient);
}

void parameter_extended_cir::finalize_aad(double*) const {}

std::size_t parameter_extended_cir::get_state_parameters(double* out) const {
  std::size_t offset = 0;
  offset += state_blocks::write_dense(mean_reversion_speeds_, out + offset);
  offset += state_blocks::write_dense(volatilities_, out + offset);
  offset += state_blocks::write_dense(shifts_, out + offset);
  offset += state_blocks::write_dense(long_term_levels_, out + offset);
  std::copy(initial_values_.begin(), initial_values_.end(), out + offset);
  offset += initial_values_.size();
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

std::size_t parameter_extended_cir::set_state_parameters(const double* in) {
  std::size_t offset = 0;
  offset += state_blocks::read_dense(mean_reversion_speeds_, in + offset);
  offset += state_blocks::read_dense(volatilities_, in + offset);
  offset += state_blocks::read_dense(shifts_, in + offset);
  offset += state_blocks::read_dense(long_term_levels_, in + offset);
  std::copy_n(in + offset, initial_values_.size(), initial_values_.begin());
  offset += initial_values_.size();
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

}  // namespace tarvex
