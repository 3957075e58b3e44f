#include "Analytics/parameters/parameter_markovian_hjm.h"

#include <cmath>
#include <limits>

#include "Analytics/foundations/serialization_io.h"
#include "Analytics/foundations/state_parameter_blocks.h"
#include "Core/check.h"

namespace tarvex {
namespace {

bool all_finite(const matrix<double>& m) {
  for (std::size_t k = 0; k < m.size(); ++k)
    if (!std::isfinite(m.data()[k])) return false;
  return true;
}

bool strictly_ascending(const std::vector<datetime>& dates) {
  for (std::size_t i = 1; i < dates.size(); ++i)
    if (!(dates[i - 1] < dates[i])) return false;
  return true;
}

}  // namespace

TARVEX_DEFINE_SERIALIZATION(parameter_markovian_hjm)

parameter_markovian_hjm::parameter_markovian_hjm(const matrix<double>& decays, const matrix<double>& volatilities,
                                                 const matrix<double>& correlation,
                                                 const std::vector<datetime>& decays_dates,
                                                 const std::vector<datetime>& volatilities_dates,
                                                 const std::shared_ptr<const day_count_convention>& day_convention,
                                                 parameter_markovian_hjm_type model_type)
    : decays_(decays),
      volatilities_(volatilities),
      correlation_(correlation),
      decays_dates_(decays_dates),
      volatilities_dates_(volatilities_dates),
      day_convention_(day_convention),
      model_type_(model_type) {
  initialize();
}

void parameter_markovian_hjm::initialize() {
  if (!day_convention_) day_convention_ = std::make_shared<const day_count_convention>();
  validate();
  const std::size_t n = number_of_factors();
  decays_offset_ = reserve_state_parameters(decays_.size());
  volatilities_offset_ = reserve_state_parameters(volatilities_.size());
  correlation_offset_ = reserve_state_parameters(state_blocks::strict_lower_size(n));
  finish_layout();
}

void parameter_markovian_hjm::validate() const {
  TARVEX_CHECK(decays_.rows() == decays_dates_.size(), "decays size ", decays_.rows(),
               " is differents from decays dates size ", decays_dates_.size());
  TARVEX_CHECK(volatilities_.rows() == volatilities_dates_.size(), "volatilities size ", volatilities_.rows(),
               " is differents from volatilities dates size ", volatilities_dates_.size());
  TARVEX_CHECK(correlation_.rows() == correlation_.columns(), "correlation number of rows ", correlation_.rows(),
               " is differents from correlation number of columns ", correlation_.columns());
  TARVEX_CHECK(volatilities_.columns() == decays_.columns(), "volatilities number of factors ",
               volatilities_.columns(), " is differents from decays number of factors ", decays_.columns());
  TARVEX_CHECK(correlation_.rows() == decays_.columns(), "correlation size ", correlation_.rows(),
               " is differents from number of factors ", decays_.columns());
  // The type arrives as an integer from files; any other value would select neither
  // parametrisation and be simulated as one of them by accident.
  TARVEX_CHECK_TEXT(model_type_ == parameter_markovian_hjm_type::mean_reversion ||
                        model_type_ == parameter_markovian_hjm_type::decay_factor,
                    "model_type ", static_cast<int>(model_type_),
                    " is neither 0 (mean_reversion) nor 1 (decay_factor)");
  TARVEX_CHECK_TEXT(strictly_ascending(decays_dates_), "decays dates are not strictly ascending");
  TARVEX_CHECK_TEXT(strictly_ascending(volatilities_dates_), "volatilities dates are not strictly ascending");
  TARVEX_CHECK_TEXT(all_finite(decays_) && all_finite(volatilities_) && all_finite(correlation_),
                    "parameter_markovian_hjm holds a non-finite number");
  constexpr double eps = std::numeric_limits<double>::epsilon();
  const std::size_t n = correlation_.rows();
  for (std::size_t i = 0; i < n; ++i) {
    TARVEX_CHECK_TEXT(std::fabs(correlation_(i, i) - 1.0) <= eps, "correlation diagonal entry ", i, " is ", correlation_(i, i),
                      " instead of 1");
    for (std::size_t j = 0; j < i; ++j)
      TARVEX_CHECK_TEXT(std::fabs(correlation_(i, j) - correlation_(j, i)) <= eps, "correlation matrix is not symetric");
  }
}

void parameter_markovian_hjm::decays_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.size() == n && row < decays_.rows(), "adjoint size ", adjoint.size(), " row ", row,
               " for decays of ", decays_.rows(), " x ", n);
  for (std::size_t j = 0; j < n; ++j) update_state_parameters(adjoint[j], decays_offset_, row * n + j, gradient);
}

void parameter_markovian_hjm::volatility_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.size() == n && row < volatilities_.rows(), "adjoint size ", adjoint.size(), " row ", row,
               " for volatilities of ", volatilities_.rows(), " x ", n);
  for (std::size_t j = 0; j < n; ++j)
    update_state_parameters(adjoint[j], volatilities_offset_, row * n + j, gradient);
}

void parameter_markovian_hjm::correlation_aad(const matrix<double>& adjoint, double* gradient) const {
  const std::size_t n = number_of_factors();
  TARVEX_CHECK(adjoint.rows() == n && adjoint.columns() == n, "correlation adjoint of ", adjoint.rows(), " x ",
               adjoint.columns(), " for ", n, " factors");
  // The correlation is symmetric, so each free entry receives both triangles' adjoints.
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = 0; j < i; ++j)
      update_state_parameters(adjoint(i, j) + adjoint(j, i), correlation_offset_,
                              state_blocks::strict_lower_index(i, j), gradient);
}

void parameter_markovian_hjm::finalize_aad(double*) const {}

std::size_t parameter_markovian_hjm::get_state_parameters(double* out) const {
  std::size_t offset = 0;
  offset += state_blocks::write_dense(decays_, out + offset);
  offset += state_blocks::write_dense(volatilities_, out + offset);
  offset += state_blocks::write_correlation(correlation_, number_of_factors(), out + offset);
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

std::size_t parameter_markovian_hjm::set_state_parameters(const double* in) {
  std::size_t offset = 0;
  offset += state_blocks::read_dense(decays_, in + offset);
  offset += state_blocks::read_dense(volatilities_, in + offset);
  offset += state_blocks::read_correlation(correlation_, number_of_factors(), in + offset);
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

}  // namespace tarvex
