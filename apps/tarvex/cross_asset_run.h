#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "cross_asset_job.h"

namespace tarvex::app {

// What a cross-asset run reports. Sums are formed per batch and added in batch order,
// so the figures do not depend on the number of threads.
struct cross_asset_result {
  std::size_t paths = 0;
  std::vector<datetime> dates;  // after today
  // Martingale checks, each a deflated price against today's value:
  // [check] name and asset class; [check][date] target, Monte Carlo mean, standard error
  // (NaN where the check does not apply, e.g. a matured bond).
  std::vector<std::string> check_names, check_classes;
  std::vector<std::vector<double>> target, mean, error;
  // [asset][date][quantile] of the simulated FX and equity spots, survival
  // probabilities and next-day hazard rates, and [asset][date] their means.
  std::vector<std::string> asset_names;
  std::vector<std::vector<std::vector<double>>> quantiles;
  std::vector<std::vector<double>> asset_mean;
  // The values kept per level of each quantile summary and, [asset][date], how many
  // ranks each quantile may be off (0: exact).
  std::size_t quantile_capacity = 0;
  std::vector<std::vector<std::uint64_t>> rank_error;
  double seconds = 0.0;
};

cross_asset_result run_cross_asset(const cross_asset_job& job);

// Runs the job and writes martingale.csv, quantiles.csv, summary.json (and with `plot`
// a fan chart per asset) into `output`; the report goes to `out`.
cross_asset_result simulate_cross_asset(const cross_asset_job& job, const std::filesystem::path& output, bool plot,
                                        std::ostream& out);

}  // namespace tarvex::app
