#include "Analytics/parameters/parameter_cheyette.h"

#include <cmath>

#include "Analytics/foundations/serialization_io.h"
#include "Analytics/foundations/state_parameter_blocks.h"
#include "Core/check.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(parameter_cheyette)

parameter_cheyette::parameter_cheyette(const std::shared_ptr<const parameter_markovian_hjm>& parameters,
                                       const matrix<double>& skew_parameter,
                                       const std::vector<datetime>& skew_parameter_dates, double long_term_skew_level)
    : parameters_(parameters),
      skew_parameter_(skew_parameter),
      skew_parameter_dates_(skew_parameter_dates),
      long_term_skew_level_(long_term_skew_level) {
  initialize();
}

void parameter_cheyette::initialize() {
  validate();
  // The HJM set's entries come first: their positions are the HJM set's own.
  reserve_state_parameters(parameters_->state_parameters_size());
  skew_parameter_offset_ = reserve_state_parameters(skew_parameter_.size());
  long_term_skew_level_offset_ = reserve_state_parameters(1);
  finish_layout();
}

void parameter_cheyette::validate() const {
  TARVEX_CHECK(skew_parameter_.rows() == skew_parameter_dates_.size(), "decays size ", skew_parameter_.rows(),
               " is differents from decays dates size ", skew_parameter_dates_.size());
  TARVEX_CHECK_TEXT(parameters_ != nullptr, "parameter_cheyette needs markovian hjm parameters");
  TARVEX_CHECK(skew_parameter_.columns() == parameters_->number_of_factors(), "skew number of factors ",
               skew_parameter_.columns(), " is differents from number of factors ", parameters_->number_of_factors());
  for (std::size_t i = 1; i < skew_parameter_dates_.size(); ++i)
    TARVEX_CHECK_TEXT(skew_parameter_dates_[i - 1] < skew_parameter_dates_[i],
                      "skew parameter dates are not strictly ascending");
  for (std::size_t k = 0; k < skew_parameter_.size(); ++k)
    TARVEX_CHECK_TEXT(std::isfinite(skew_parameter_.data()[k]) && std::isfinite(long_term_skew_level_),
                      "parameter_cheyette holds a non-finite number");
}

void parameter_cheyette::skew_parameter_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.size() == n && row < skew_parameter_.rows(), "adjoint size ", adjoint.size(), " row ", row,
               " for skew of ", skew_parameter_.rows(), " x ", n);
  for (std::size_t k = 0; k < n; ++k) update_state_parameters(adjoint[k], skew_parameter_offset_, row * n + k, gradient);
}

void parameter_cheyette::long_term_skew_level_aad(double adjoint, double* gradient) const {
  update_state_parameters(adjoint, long_term_skew_level_offset_, 0, gradient);
}

void parameter_cheyette::finalize_aad(double*) const {}

std::size_t parameter_cheyette::get_state_parameters(double* out) const {
  std::size_t offset = parameters_->get_state_parameters(out);
  offset += state_blocks::write_dense(skew_parameter_, out + offset);
  out[offset++] = long_term_skew_level_;
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

std::size_t parameter_cheyette::set_state_parameters(const double* in) {
  // Writes through to the shared HJM set, as the protocol for nested sets asks.
  std::size_t offset = const_cast<parameter_markovian_hjm&>(*parameters_).set_state_parameters(in);
  offset += state_blocks::read_dense(skew_parameter_, in + offset);
  long_term_skew_level_ = in[offset++];
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

}  // namespace tarvex
