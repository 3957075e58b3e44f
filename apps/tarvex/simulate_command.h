#pragma once
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "simulation_job.h"
#include "simulation_run.h"

namespace tarvex::app {

// `--paths-out DIR`: the per-path zero rates on chosen dates and tenors, written to
// DIR/zero_rates.csv batch by batch.
struct paths_request {
  std::filesystem::path folder;
  std::string dates = "last";  // comma-separated ISO simulation dates, "all" or "last"
  std::string tenors = "all";  // comma-separated zero-rate tenors of the job, or "all"
};

// Runs a job and writes martingale.csv, zero_rate_quantiles.csv and summary.json (and,
// with `plot`, the charts) into `output`, and with `paths` the per-path rates; nothing
// appears unless the run succeeds. The report goes to `out`.
simulation_result simulate(const simulation_job& job, const std::filesystem::path& output, bool plot,
                           std::ostream& out, const paths_request* paths = nullptr);

// `tarvex simulate …`; returns the exit status.
int run_simulate(const std::vector<std::string>& args);

// "--threads N": 0 (all cores, the default) or a positive count.
void apply_threads(const std::string& command, const std::string& text);

}  // namespace tarvex::app
