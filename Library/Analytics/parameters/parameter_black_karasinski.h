#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/foundations/serializable.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/aad_state_parameters_manager.h"
#include "Util/datetime.h"

namespace tarvex {

// Parameters of the one-factor Black–Karasinski model: the log of the short rate (or of
// the default intensity) is a one-factor Markovian HJM state, decayed, plus a dated
// piecewise-constant level. The HJM part is shared; the levels are this class's own.
// Level j governs the dates from levels_parameter_dates()[j] to the next level date
// (the first level also everything before).
//
// State parameters: the HJM part's whole vector, then the levels in date order.
// The serialization statics are called directly; the class is not registered.
class parameter_black_karasinski : public aad_state_parameters_manager {
  TARVEX_SERIALIZABLE(parameter_black_karasinski)

 public:
  // The HJM part must have one factor and as many level dates as levels.
  parameter_black_karasinski(const std::shared_ptr<parameter_markovian_hjm>& parameters,
                             const std::vector<double>& levels, const std::vector<datetime>& levels_dates,
                             short time_step_in_days, short number_of_roots);

  // The HJM part's factor count (1 once valid).
  std::size_t number_of_factors() const noexcept { return parameters_->number_of_factors(); }
  const std::vector<double>& levels_parameter() const noexcept { return levels_parameter_; }
  const std::vector<datetime>& levels_parameter_dates() const noexcept { return levels_parameter_dates_; }
  // Index of the level governing `date`: the last level date not after it (0 before the first).
  std::size_t levels_parameter_offset(const datetime& date) const;
  const matrix<double>& correlation() const noexcept { return parameters_->correlation(); }
  const std::shared_ptr<parameter_markovian_hjm>& parameters() const noexcept { return parameters_; }
  // The HJM part's first decay, read as the mean reversion of the log-rate.
  double mean_reversion() const { return parameters_->decays()(0, 0); }
  // Days per integration step of the model's conditional prices.
  short time_step_in_days() const noexcept { return time_step_in_days_; }
  // Gauss–Hermite nodes per step of the model's conditional prices.
  short number_of_roots() const noexcept { return number_of_roots_; }
  std::size_t levels_offset() const noexcept { return levels_offset_; }

  // Adds `value` to the gradient of level `index`.
  void levels_parameter_aad(double value, std::size_t index, double* gradient) const;

  void finalize_aad(double* gradient) const override;
  std::size_t get_state_parameters(double* out) const override;
  // Writes into the shared HJM part too, so every holder of it sees the change.
  std::size_t set_state_parameters(const double* in) override;

 private:
  parameter_black_karasinski() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("parameters", self.parameters_);
    w("levels_parameter", self.levels_parameter_);
    w("levels_parameter_dates", self.levels_parameter_dates_);
    w("time_step_in_days", self.time_step_in_days_);
    w("number_of_roots", self.number_of_roots_);
  }

  std::shared_ptr<parameter_markovian_hjm> parameters_;
  std::vector<double> levels_parameter_;
  std::vector<datetime> levels_parameter_dates_;
  std::int16_t time_step_in_days_ = 0;
  std::int16_t number_of_roots_ = 0;
  std::uint64_t levels_offset_ = 0;
};

}  // namespace tarvex
