#pragma once
#include <cstddef>
#include <vector>

#include "PDE/time_grid_config.h"
#include "Util/datetime.h"

namespace tarvex {

// The dates a PDE scheme steps over, ascending, from `from` to `to` (both on the
// grid), holding every event date in between and, when the configuration keeps them,
// every other given date in between; the spans between those are cut as the
// configuration says, on whole days.
class time_grid {
 public:
  // Expects from <= to; dates outside [from, to] are ignored.
  time_grid(const time_grid_config& config, const datetime& from, const datetime& to,
            const std::vector<datetime>& dates, const std::vector<datetime>& event_dates);

  const std::vector<datetime>& dates() const noexcept { return dates_; }
  const datetime& date(std::size_t i) const { return dates_[i]; }
  std::size_t size() const noexcept { return dates_.size(); }
  // Event dates inside [from, to], each once, ascending.
  std::size_t event_dates_size() const noexcept { return event_indices_.size(); }
  // Grid index of the i-th event date.
  std::size_t event_dates_indexs(std::size_t i) const { return event_indices_[i]; }
  bool is_direction_forward() const noexcept { return config_.direction() == time_grid_direction::forward; }
  const time_grid_config& config() const noexcept { return config_; }

 private:
  time_grid_config config_;
  std::vector<datetime> dates_;
  std::vector<std::size_t> event_indices_;
};

}  // namespace tarvex
