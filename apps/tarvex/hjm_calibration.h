#pragma once
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_report.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Vectorization/matrix.h"
#include "market_file.h"

namespace tarvex::app {

// Where a target sits in the fit table: its expiry (row) and its kind (column:
// "caplet", "co-term" or the swap tenor of the expiry x tenor grid).
struct target_cell {
  std::size_t row = 0;
  std::size_t column = 0;
  // The market vol was read beyond the edge of the market's grid (flat extrapolation).
  bool off_grid = false;
};

struct hjm_calibration {
  std::shared_ptr<const parameter_markovian_hjm> parameters;
  // The library's account of the last stage: stop reason, every target's fit.
  calibration_ir_hjm_report report;
  std::vector<std::string> rows;     // expiry labels
  std::vector<std::string> columns;  // target kinds
  std::vector<target_cell> cells;    // one per target, in the calibrator's order
  // "10Y x 5Y" for target i.
  std::string label(std::size_t i) const;
};

// The calibration inputs read from their files; every problem is an input_error
// naming the file and the JSON path.
std::shared_ptr<const calibration_ir_targets_configuration> read_targets(const std::string& file);
std::shared_ptr<const calibration_hjm_settings> read_settings(const std::string& file);
// {"correlation": [[…], …]}: a symmetric positive definite matrix with a unit diagonal.
matrix<double> read_correlation(const std::string& file);

// Calibrates at the money to the market's surface and writes the optimiser report, the
// fit table (model - market in bp, expiry x target kind), the parameters by date,
// warnings (targets beyond the vol grid, parameters on their bounds) and one summary
// line to `report`. Without `initial` the fit runs in two stages from a start of its
// own: rows tied together first (a stiff smoothness penalty), then every dated row
// free. `initial` (may be null; `initial_file` names it in errors) gives the starting
// decays and volatilities on the calibrator's date grids and runs one stage. What the
// library refuses during the fit exits 2 naming the market (its curve) or the settings
// (`settings_file`; their bounds).
hjm_calibration calibrate_hjm(const market& m, const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                              const std::shared_ptr<const calibration_hjm_settings>& settings,
                              const matrix<double>& correlation,
                              const std::shared_ptr<const parameter_markovian_hjm>& initial, std::ostream& report,
                              const std::string& initial_file = "", const std::string& settings_file = "");

// Empty when the fit's RMS is at most `max_rms_bp`; otherwise the one-line complaint
// naming the worst targets.
std::string poor_fit(const hjm_calibration& fit, double max_rms_bp);

// `tarvex calibrate hjm …`; returns the exit status (3: poor fit, nothing written).
int run_calibrate(const std::vector<std::string>& args);

}  // namespace tarvex::app
