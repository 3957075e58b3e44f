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

// Validated parameters of the multi-factor lognormal model of an equity or FX spot: a
// dated volatility per factor (one row per date, one column per factor), the factor
// correlation and the day count of model time. The factor count is the correlation's.
//
// State parameters, in order: volatilities row-major, then the strictly lower triangle
// of the correlation row by row ((1,0), (2,0), (2,1), ...).
class parameter_lognormal : public aad_state_parameters_manager {
  TARVEX_SERIALIZABLE(parameter_lognormal)

 public:
  parameter_lognormal(const matrix<double>& volatilities, const matrix<double>& correlation,
                      const std::vector<datetime>& volatilities_dates,
                      const std::shared_ptr<const day_count_convention>& day_convention);

  const matrix<double>& volatilities() const noexcept { return volatilities_; }
  const matrix<double>& correlation() const noexcept { return correlation_; }
  const std::vector<datetime>& volatilities_dates() const noexcept { return volatilities_dates_; }
  const std::shared_ptr<const day_count_convention>& day_convention() const noexcept { return day_convention_; }
  std::size_t number_of_factors() const noexcept { return correlation_.columns(); }
  std::size_t volatilities_offset() const noexcept { return volatilities_offset_; }
  std::size_t correlation_offset() const noexcept { return correlation_offset_; }

  // Adds g[f] to the gradient of volatility (row, f), f = 0..F-1.
  void volatility_aad(const vector<double>& g, std::size_t row, double* gradient) const;
  // Adds G(i, j) + G(j, i) to the gradient of correlation (i, j), j < i.
  void correlation_aad(const matrix<double>& G, double* gradient) const;

  void finalize_aad(double* gradient) const override;
  std::size_t get_state_parameters(double* out) const override;
  // Overwrites the volatilities and both triangles of the correlation; no re-validation.
  std::size_t set_state_parameters(const double* in) override;

 private:
  parameter_lognormal() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("volatilities", self.volatilities_);
    w("correlation", self.correlation_);
    w("volatilities_dates", self.volatilities_dates_);
    w("day_convention", self.day_convention_);
  }

  matrix<double> volatilities_;
  matrix<double> correlation_;
  std::vector<datetime> volatilities_dates_;
  std::shared_ptr<const day_count_convention> day_convention_;
  std::uint64_t volatilities_offset_ = 0;
  std::uint64_t correlation_offset_ = 0;
};

}  // namespace tarvex
