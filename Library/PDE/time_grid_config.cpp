#include "PDE/time_grid_config.h"

#include "Core/check.h"

namespace tarvex {

time_grid_config::time_grid_config(time_grid_type type, time_grid_direction direction, bool keep_dates, double step,
                                   std::uint64_t period, double minimum_step)
    : type_(type),
      direction_(direction),
      keep_dates_(keep_dates),
      step_(step),
      period_(period),
      minimum_step_(minimum_step) {
  TARVEX_CHECK(type_ == time_grid_type::fixed_step, "time grid type ", static_cast<int>(type_), " is unknown");
  TARVEX_CHECK(direction_ == time_grid_direction::forward || direction_ == time_grid_direction::backward,
               "time grid direction ", static_cast<int>(direction_), " is unknown");
  TARVEX_CHECK(step_ > 0.0 && minimum_step_ >= 0.0 && minimum_step_ <= step_, "time grid step ", step_,
               " and minimum step ", minimum_step_, " (days)");
}

time_grid_config::time_grid_config(int type, int direction, bool keep_dates, double step, std::uint64_t period,
                                   double minimum_step)
    : time_grid_config(static_cast<time_grid_type>(type), static_cast<time_grid_direction>(direction), keep_dates,
                       step, period, minimum_step) {}

}  // namespace tarvex
