#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Util/datetime.h"
#include "simulation_job.h"

namespace tarvex::app {

class progress_bar;

// What a job's simulation reports. Sums are formed per batch and added up in batch
// order, so the figures do not depend on how many threads ran the batches; with the
// counter-based generators they do not depend on the split into batches either (up to
// the order of the additions).
struct simulation_result {
  std::size_t paths = 0;
  std::vector<datetime> dates;       // the simulation dates after today
  std::vector<datetime> maturities;  // the bond maturities as dates
  // [date][maturity]: today's P(0, T), the Monte Carlo mean of D(0, t) P(t, T) and its
  // standard error; NaN where the bond has matured before the date.
  std::vector<std::vector<double>> today, mean, error;
  // [tenor][date][quantile] of the simulated zero rate R(t, t + tenor) (continuously
  // compounded on the market's day count), and [tenor][date] its mean.
  std::vector<std::vector<std::vector<double>>> zero_quantiles;
  std::vector<std::vector<double>> zero_mean;
  // How the quantiles were found (see quantile_capacity) and, [tenor][date], the bound on
  // how many ranks each may be off (0: exact).
  std::size_t quantile_capacity = 0;
  std::vector<std::vector<std::uint64_t>> zero_rank_error;
  double seconds = 0.0;
};

// The per-path zero rates a run hands out, batch by batch in path order.
struct path_export {
  std::vector<std::size_t> dates;   // indices into the simulation dates after today
  std::vector<std::size_t> tenors;  // indices into the job's zero-rate tenors
  // Called in path order, one thread at a time, with `count` paths from global path
  // `first`: values[p * dates.size() * tenors.size() + d * tenors.size() + z].
  std::function<void(std::size_t first, std::size_t count, const std::vector<double>& values)> write;
};

// Runs every batch (in parallel, one simulation_manager each); with `paths`, hands out
// the chosen per-path values as the batches finish.
simulation_result run_simulation(const simulation_job& job, progress_bar* progress, const path_export* paths = nullptr);

// Values kept per level of each quantile summary (Math/quantile_summary.h): `requested`
// when positive; otherwise every value (exact quantiles) while paths x series fits in
// 2^24 doubles (128 MiB), else 4096: each quantile's rank is then off by at most about
// log2(paths / 4096) / 8192 of the paths, in at most (log2(paths / 4096) + 1) x 4096
// values per series.
std::size_t quantile_capacity(std::size_t paths, std::size_t series, std::size_t requested);

// How a run's quantiles were found, for the outputs: "exact (type 7)" or "compactor
// summary, N values per level".
std::string quantile_method(std::size_t paths, std::size_t capacity);
// The same in one CSV cell: "exact" or "compactor(N)".
std::string quantile_method_tag(std::size_t paths, std::size_t capacity);

}  // namespace tarvex::app
