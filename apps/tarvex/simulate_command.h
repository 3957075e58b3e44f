#pragma once
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "simulation_job.h"
#include "simulation_run.h"

namespace tarvex::app {

// Runs a job and writes martingale.csv, zero_rate_quantiles.csv and summary.json (and,
// with `plot`, the charts) into `output`; nothing appears there unless the run
// succeeds. The report goes to `out`.
simulation_result simulate(const simulation_job& job, const std::filesystem::path& output, bool plot,
                           std::ostream& out);

// `tarvex simulate …`; returns the exit status.
int run_simulate(const std::vector<std::string>& args);

// "--threads N": 0 (all cores, the default) or a positive count.
void apply_threads(const std::string& command, const std::string& text);

}  // namespace tarvex::app
