#include "PDE/time_grid.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"

namespace tarvex {

time_grid::time_grid(const time_grid_config& config, const datetime& from, const datetime& to,
                     const std::vector<datetime>& dates, const std::vector<datetime>& event_dates)
    : config_(config) {
  TARVEX_CHECK(!(to < from), "time grid from ", from.value(), " to ", to.value());
  std::vector<datetime> mandatory{from, to};
  const auto add_inside = [&](const std::vector<datetime>& list) {
    for (const auto& d : list)
      if (from < d && d < to) mandatory.push_back(d);
  };
  add_inside(event_dates);
  if (config_.keep_dates()) add_inside(dates);
  std::sort(mandatory.begin(), mandatory.end());
  mandatory.erase(std::unique(mandatory.begin(), mandatory.end()), mandatory.end());

  dates_.push_back(mandatory.front());
  for (std::size_t m = 1; m < mandatory.size(); ++m) {
    const double start = mandatory[m - 1].value(), length = mandatory[m].value() - start;
    double k = std::max(static_cast<double>(config_.period()), std::ceil(length / config_.step() - 1e-9));
    if (config_.minimum_step() > 0.0) k = std::min(k, std::floor(length / config_.minimum_step() + 1e-9));
    k = std::min(std::max(k, 1.0), std::max(1.0, std::floor(length)));  // whole days
    const auto steps = static_cast<std::size_t>(k);
    for (std::size_t j = 1; j < steps; ++j) {
      const datetime d(start + std::round(length * static_cast<double>(j) / k));
      if (dates_.back() < d && d < mandatory[m]) dates_.push_back(d);
    }
    dates_.push_back(mandatory[m]);
  }
  for (const auto& e : event_dates) {
    if (e < from || to < e) continue;
    const auto it = std::lower_bound(dates_.begin(), dates_.end(), e);
    const auto index = static_cast<std::size_t>(it - dates_.begin());
    if (event_indices_.empty() || event_indices_.back() != index) event_indices_.push_back(index);
  }
  std::sort(event_indices_.begin(), event_indices_.end());
  event_indices_.erase(std::unique(event_indices_.begin(), event_indices_.end()), event_indices_.end());
}

}  // namespace tarvex
