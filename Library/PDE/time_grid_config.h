#pragma once
#include <cstdint>

namespace tarvex {

// How a PDE time grid cuts the span between its mandatory dates.
enum class time_grid_type : int {
  fixed_step = 0,  // equal steps no longer than `step` days between mandatory dates
};

// Which way the scheme walks the grid; the dates themselves are always ascending.
enum class time_grid_direction : int {
  forward = 0,
  backward = 1,
};

// Settings of a PDE time grid: between two consecutive mandatory dates the grid puts
// k = max(period, ceil(length / step)) equal steps (whole days), but never steps
// shorter than minimum_step days (k is cut to floor(length / minimum_step), at least
// one). With keep_dates false only the two ends are mandatory, not the dates handed
// to the grid (event dates always are).
class time_grid_config {
 public:
  time_grid_config(time_grid_type type, time_grid_direction direction, bool keep_dates, double step,
                   std::uint64_t period, double minimum_step);
  // The integer codes of the engine's interface: type 0, direction 0 forward / 1 backward.
  time_grid_config(int type, int direction, bool keep_dates, double step, std::uint64_t period, double minimum_step);

  time_grid_type type() const noexcept { return type_; }
  time_grid_direction direction() const noexcept { return direction_; }
  bool keep_dates() const noexcept { return keep_dates_; }
  double step() const noexcept { return step_; }
  std::uint64_t period() const noexcept { return period_; }
  double minimum_step() const noexcept { return minimum_step_; }

 private:
  time_grid_type type_;
  time_grid_direction direction_;
  bool keep_dates_;
  double step_;
  std::uint64_t period_;
  double minimum_step_;
};

}  // namespace tarvex
