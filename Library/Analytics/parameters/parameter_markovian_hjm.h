#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Analytics/parameters/parameter_markovian_hjm_type.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Validated parameters of the multi-factor Gaussian Markovian HJM model: per factor a
// dated decay and a dated volatility (one matrix row per date, one column per factor),
// the factor correlation, the day count that turns dates into model time and the
// reading of the decay rows. Immutable once built, except set_state_parameters.
//
// Which row governs when (decays and volatilities alike, each on its own dates d_0 <
// d_1 < ...): row r covers (d_{r-1}, d_r], row 0 everything up to d_0 and the last row
// everything after the last date. A row is thus dated by the end of its stretch, the way
// the calibration seeds one row per expiry; simulated and calibrated dynamics agree
// because the rule does not depend on how a model cuts time. With the decay and the
// volatility dates interleaved, an interval between two consecutive dates of their union
// takes, from each list, the row of the first date not before its end. Rows whose whole
// stretch lies before a model's valuation date govern nothing.
//
// State parameters, in order: decays row-major, volatilities row-major, then the
// strictly lower triangle of the correlation row by row ((1,0), (2,0), (2,1), ...).
//
// Beyond the four size checks, validate() also refuses a correlation that is not
// n x n for n factors (the state walk indexes it with n), dates that are not strictly
// ascending, a correlation that is not symmetric within machine epsilon, a diagonal
// other than one and non-finite numbers. A null convention stands for the default
// ACT/365F convention without calendar.
class parameter_markovian_hjm : public aad_state_parameters_manager {
  TARVEX_SERIALIZABLE(parameter_markovian_hjm)

 public:
  parameter_markovian_hjm(const matrix<double>& decays, const matrix<double>& volatilities,
                          const matrix<double>& correlation, const std::vector<datetime>& decays_dates,
                          const std::vector<datetime>& volatilities_dates,
                          const std::shared_ptr<const day_count_convention>& day_convention,
                          parameter_markovian_hjm_type model_type);

  const matrix<double>& decays() const noexcept { return decays_; }
  const matrix<double>& volatilities() const noexcept { return volatilities_; }
  const matrix<double>& correlation() const noexcept { return correlation_; }
  const std::vector<datetime>& decays_dates() const noexcept { return decays_dates_; }
  const std::vector<datetime>& volatilities_dates() const noexcept { return volatilities_dates_; }
  const std::shared_ptr<const day_count_convention>& day_convention() const noexcept { return day_convention_; }
  parameter_markovian_hjm_type model_type() const noexcept { return model_type_; }
  std::size_t number_of_factors() const noexcept { return decays_.columns(); }

  std::size_t decays_offset() const noexcept { return decays_offset_; }
  std::size_t volatilities_offset() const noexcept { return volatilities_offset_; }
  std::size_t correlation_offset() const noexcept { return correlation_offset_; }

  // Adds adjoint[j] to the gradient of decay (row, j), j = 0..n-1.
  void decays_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const;
  // Adds adjoint[j] to the gradient of volatility (row, j), j = 0..n-1.
  void volatility_aad(const vector<double>& adjoint, std::size_t row, double* gradient) const;
  // Adds A(i,j) + A(j,i) to the gradient of correlation (i, j), j < i; the diagonal is fixed.
  void correlation_aad(const matrix<double>& adjoint, double* gradient) const;

  void finalize_aad(double* gradient) const override;
  std::size_t get_state_parameters(double* out) const override;
  // Overwrites decays, volatilities and correlation in place; no re-validation.
  std::size_t set_state_parameters(const double* in) override;

 private:
  parameter_markovian_hjm() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("decays", self.decays_);
    w("volatilities", self.volatilities_);
    w("correlation", self.correlation_);
    w("decays_dates", self.decays_dates_);
    w("volatilities_dates", self.volatilities_dates_);
    w("day_convention", self.day_convention_);
    w("model_type", self.model_type_);
  }

  matrix<double> decays_;
  matrix<double> volatilities_;
  matrix<double> correlation_;
  std::vector<datetime> decays_dates_;
  std::vector<datetime> volatilities_dates_;
  std::shared_ptr<const day_count_convention> day_convention_;
  parameter_markovian_hjm_type model_type_{};
  std::uint64_t decays_offset_ = 0;
  std::uint64_t volatilities_offset_ = 0;
  std::uint64_t correlation_offset_ = 0;
};

}  // namespace tarvex
