#pragma once
#include <cstddef>
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
  double seconds = 0.0;
};

// Runs every batch (in parallel, one simulation_manager each).
simulation_result run_simulation(const simulation_job& job, progress_bar* progress);

// The empirical quantile with linear interpolation between order statistics
// (Hyndman-Fan type 7, the default of R and NumPy): with the values sorted,
// q -> x[h] + (h - floor h)(x[floor h + 1] - x[floor h]), h = (n - 1) q.
double quantile_of_sorted(const std::vector<double>& sorted, double q);

// The same quantiles (ascending probabilities) of unsorted values, by selection rather
// than a full sort: linear time per quantile. Reorders `values`.
std::vector<double> quantiles_of(std::vector<double>& values, const std::vector<double>& probabilities);

}  // namespace tarvex::app
