#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Parameters of the Cheyette model: a Markovian HJM parameter set (decays, volatilities,
// correlation, day count), shared rather than copied, plus a dated local-volatility skew
// per factor (one row per skew date, one column per factor) and one long-term skew level.
//
// State parameters, in order: the HJM set's own (its full count), the skew entries
// row-major, then the long-term level. set_state_parameters writes the HJM block through
// to the shared HJM set, so a calibrator gives each working Cheyette set its own HJM set.
//
// Beyond the row/date check, the skew must have one column per factor (the model and the
// adjoint index it as row * factors + factor), its dates must be strictly ascending, and
// the HJM set must be present.
class parameter_cheyette : public aad_state_parameters_manager {
  TARVEX_SERIALIZABLE(parameter_cheyette)

 public:
  parameter_cheyette(const std::shared_ptr<const parameter_markovian_hjm>& parameters,
                     const matrix<double>& skew_parameter, const std::vector<datetime>& skew_parameter_dates,
                     double long_term_skew_level);

  const std::shared_ptr<const parameter_markovian_hjm>& parameters() const noexcept { return parameters_; }
  const matrix<double>& skew_parameter() const noexcept { return skew_parameter_; }
  const std::vector<datetime>& skew_parameter_dates() const noexcept { return skew_parameter_dates_; }
  double long_term_skew_level() const noexcept { return long_term_skew_level_; }
  const matrix<double>& correlation() const noexcept { return parameters_->correlation(); }
  std::size_t number_of_factors() const noexcept { return parameters_->number_of_factors(); }

  std::size_t skew_parameter_offset() const noexcept { return skew_parameter_offset_; }
  std::size_t long_term_skew_level_offset() const noexcept { return long_term_skew_level_offset_; }

  // Adds adjoint[k] to the gradient of skew (row, k), k = 0..factors-1.
  void skew_parameter_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const;
  // Adds adjoint to the gradient of the long-term skew level.
  void long_term_skew_level_aad(double adjoint, double* gradient) const;

  void finalize_aad(double* gradient) const override;
  std::size_t get_state_parameters(double* out) const override;
  // Overwrites the shared HJM set's numbers, the skew and the level; no re-validation.
  std::size_t set_state_parameters(const double* in) override;

 private:
  parameter_cheyette() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("parameters", self.parameters_);
    w("skew_parameter", self.skew_parameter_);
    w("skew_parameter_dates", self.skew_parameter_dates_);
    w("long_term_skew_level", self.long_term_skew_level_);
  }

  std::shared_ptr<const parameter_markovian_hjm> parameters_;
  matrix<double> skew_parameter_;
  std::vector<datetime> skew_parameter_dates_;
  double long_term_skew_level_ = 0.0;
  std::uint64_t skew_parameter_offset_ = 0;
  std::uint64_t long_term_skew_level_offset_ = 0;
};

}  // namespace tarvex
