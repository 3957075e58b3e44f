#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// Validated parameters of the multi-factor extended (shifted) CIR model: per factor a
// dated mean-reversion speed kappa, volatility sigma and shift phi (one matrix row per
// date, one column per factor), the factor correlation and the day count of model time.
// The rate (or intensity) is sum_f x_f + phi_f with dx_f = kappa_f (theta_f - x_f) dt +
// sigma_f sqrt(x_f) dW_f.
//
// Extension: kappa, sigma and phi alone describe factors that start at 0 and revert to
// 0, i.e. stay at 0, so the model would be deterministic. The set therefore also holds
// a long-term level theta per mean-reversion row and factor (same rows and dates as
// kappa) and an initial value x_f(0) per factor. Both default to zero, which gives back
// the three-block model; they are written after the other keys and files without them
// read as zero.
//
// State parameters, in order: kappa, sigma, phi row-major, then theta row-major and the
// initial values.
class parameter_extended_cir : public aad_state_parameters_manager {
  TARVEX_SERIALIZABLE(parameter_extended_cir)

 public:
  parameter_extended_cir(const matrix<double>& mean_reversion_speeds, const matrix<double>& volatilities,
                         const matrix<double>& shifts, const matrix<double>& correlation,
                         const std::vector<datetime>& mean_reversion_speed_dates,
                         const std::vector<datetime>& volatilities_dates, const std::vector<datetime>& shifts_dates,
                         const std::shared_ptr<const day_count_convention>& day_convention);
  // The same with long-term levels (rows of the mean-reversion dates) and initial values.
  parameter_extended_cir(const matrix<double>& mean_reversion_speeds, const matrix<double>& volatilities,
                         const matrix<double>& shifts, const matrix<double>& correlation,
                         const std::vector<datetime>& mean_reversion_speed_dates,
                         const std::vector<datetime>& volatilities_dates, const std::vector<datetime>& shifts_dates,
                         const std::shared_ptr<const day_count_convention>& day_convention,
                         const matrix<double>& long_term_levels, const std::vector<double>& initial_values);

  const matrix<double>& mean_reversion_speeds() const noexcept { return mean_reversion_speeds_; }
  const matrix<double>& volatilities() const noexcept { return volatilities_; }
  const matrix<double>& shifts() const noexcept { return shifts_; }
  const matrix<double>& correlation() const noexcept { return correlation_; }
  const std::vector<datetime>& mean_reversion_speed_dates() const noexcept { return mean_reversion_speed_dates_; }
  const std::vector<datetime>& volatilities_dates() const noexcept { return volatilities_dates_; }
  const std::vector<datetime>& shifts_dates() const noexcept { return shifts_dates_; }
  const std::shared_ptr<const day_count_convention>& day_convention() const noexcept { return day_convention_; }
  const matrix<double>& long_term_levels() const noexcept { return long_term_levels_; }
  const std::vector<double>& initial_values() const noexcept { return initial_values_; }
  std::size_t number_of_factors() const noexcept { return mean_reversion_speeds_.columns(); }
  // In-place access for calibration code.
  matrix<double>& mean_reversion_speeds() noexcept { return mean_reversion_speeds_; }
  matrix<double>& volatilities() noexcept { return volatilities_; }
  matrix<double>& shifts() noexcept { return shifts_; }

  std::size_t mean_reversion_speeds_offset() const noexcept { return mean_reversion_speeds_offset_; }
  std::size_t volatilities_offset() const noexcept { return volatilities_offset_; }
  std::size_t shifts_offset() const noexcept { return shifts_offset_; }
  std::size_t long_term_levels_offset() const noexcept { return long_term_levels_offset_; }
  std::size_t initial_values_offset() const noexcept { return initial_values_offset_; }

  // Adds g[f] to the gradient of kappa (row, f), f = 0..F-1.
  void mean_reversion_speed_aad(const vector<double>& g, std::size_t row, double* gradient) const;
  // Adds g[f] to the gradient of sigma (row, f).
  void volatility_aad(const vector<double>& g, std::size_t row, double* gradient) const;
  // Adds g[f] to the gradient of phi (row, f).
  void shift_aad(const vector<double>& g, std::size_t row, double* gradient) const;

  void finalize_aad(double* gradient) const override;
  std::size_t get_state_parameters(double* out) const override;
  // Overwrites the blocks in place; no re-validation.
  std::size_t set_state_parameters(const double* in) override;

 private:
  parameter_extended_cir() = default;
  void initialize();
  void validate() const;

  // Field order is the file format; the extension comes last and is optional on read.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("mean_reversion_speeds", self.mean_reversion_speeds_);
    w("volatilities", self.volatilities_);
    w("shifts", self.shifts_);
    w("correlation", self.correlation_);
    w("mean_reversion_speed_dates", self.mean_reversion_speed_dates_);
    w("volatilities_dates", self.volatilities_dates_);
    w("shifts_dates", self.shifts_dates_);
    w("day_convention", self.day_convention_);
    w.optional("long_term_levels", self.long_term_levels_);
    w.optional("initial_values", self.initial_values_);
  }

  matrix<double> mean_reversion_speeds_;
  matrix<double> volatilities_;
  matrix<double> shifts_;
  matrix<double> correlation_;
  std::vector<datetime> mean_reversion_speed_dates_;
  std::vector<datetime> volatilities_dates_;
  std::vector<datetime> shifts_dates_;
  std::shared_ptr<const day_count_convention> day_convention_;
  std::uint64_t mean_reversion_speeds_offset_ = 0;
  std::uint64_t volatilities_offset_ = 0;
  std::uint64_t shifts_offset_ = 0;
  matrix<double> long_term_levels_;
  std::vector<double> initial_values_;
  std::uint64_t long_term_levels_offset_ = 0;
  std::uint64_t initial_values_offset_ = 0;
};

}  // namespace tarvex
