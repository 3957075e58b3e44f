#pragma once
#include <cstdint>

#include "Analytics/foundations/serializable.h"
#include "Market/market_data.h"
#include "Util/tenor.h"

namespace tarvex {

// Settings of the Black–Karasinski credit bootstrap and of its PDE solver. Immutable;
// nothing is validated here. `frequency` and `mean_reversion_spead` are carried for
// the callers and not read by the bootstrap.
class calibration_black_karasinski_settings : public config_data {
  TARVEX_SERIALIZABLE(calibration_black_karasinski_settings)

 public:
  calibration_black_karasinski_settings(const tenor& frequency, double mean_reversion_spead, bool backward,
                                        bool use_adjustement, std::uint64_t pde_grid_size, double pde_span,
                                        double level_lower_bound, double level_upper_bound, double tolerance,
                                        bool debug, double step, std::uint64_t period, double minimum_step,
                                        bool update_bounds);

  const tenor& frequency() const noexcept { return frequency_; }
  double mean_reversion_spead() const noexcept { return mean_reversion_spead_; }
  // Solver mode: values rolled back from each date (true) or a density rolled forward.
  bool backward() const noexcept { return backward_; }
  // Shift the credit state by the drift that the correlated rate model induces.
  bool use_adjustement() const noexcept { return use_adjustement_; }
  // Space nodes of the solver (one more in backward mode when even).
  std::uint64_t pde_grid_size() const noexcept { return pde_grid_size_; }
  // Half-width of the space grid in standard deviations.
  double pde_span() const noexcept { return pde_span_; }
  // Initial root bracket of each level.
  double level_lower_bound() const noexcept { return level_lower_bound_; }
  double level_upper_bound() const noexcept { return level_upper_bound_; }
  // Survival-probability tolerance of the fit.
  double tolerance() const noexcept { return tolerance_; }
  // Log the calibrated levels.
  bool debug() const noexcept { return debug_; }
  // Time-grid step in days, least number of steps between dates, shortest step in days.
  double step() const noexcept { return step_; }
  std::uint64_t period() const noexcept { return period_; }
  double minimum_step() const noexcept { return minimum_step_; }
  // Re-centre the bracket on the previous level.
  bool update_bounds() const noexcept { return update_bounds_; }

 private:
  calibration_black_karasinski_settings() = default;
  void initialize() {}

  // Field order is the file format.
  template <class Self, class Walker>
  static void fields(Self& self, Walker& w) {
    w("frequency", self.frequency_);
    w("mean_reversion_spead", self.mean_reversion_spead_);
    w("backward", self.backward_);
    w("use_adjustement", self.use_adjustement_);
    w("pde_grid_size", self.pde_grid_size_);
    w("pde_span", self.pde_span_);
    w("level_lower_bound", self.level_lower_bound_);
    w("level_upper_bound", self.level_upper_bound_);
    w("tolerance", self.tolerance_);
    w("debug", self.debug_);
    w("step", self.step_);
    w("period", self.period_);
    w("minimum_step", self.minimum_step_);
    w("update_bounds", self.update_bounds_);
  }

  tenor frequency_;
  double mean_reversion_spead_ = 0.0;
  bool backward_ = false;
  bool use_adjustement_ = false;
  std::uint64_t pde_grid_size_ = 0;
  double pde_span_ = 0.0;
  double level_lower_bound_ = 0.0;
  double level_upper_bound_ = 0.0;
  double tolerance_ = 0.0;
  bool debug_ = false;
  double step_ = 0.0;
  std::uint64_t period_ = 0;
  double minimum_step_ = 0.0;
  bool update_bounds_ = false;
};

}  // namespace tarvex
