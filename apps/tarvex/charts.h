#pragma once
#include <filesystem>
#include <iosfwd>
#include <string>

#include "simulation_job.h"
#include "simulation_run.h"

namespace tarvex::app {

// Writes the gnuplot scripts for the fan chart of the simulated zero rates and the
// martingale check beside the CSV files in `folder`, and renders them to PNG when
// gnuplot is installed. Returns false (after saying so on `log`) when it is not: the
// scripts stay, so the charts can be drawn later with "gnuplot charts.gp".
bool draw_charts(const std::filesystem::path& folder, const simulation_job& job, const simulation_result& result,
                 std::ostream& log);

bool gnuplot_available();

}  // namespace tarvex::app
