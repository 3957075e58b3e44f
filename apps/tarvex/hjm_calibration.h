#pragma once
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Vectorization/matrix.h"
#include "market_file.h"

namespace tarvex::app {

// One calibration target after the fit, vols in decimal.
struct fit_row {
  datetime expiry;
  datetime end;
  double market = 0.0;
  double model = 0.0;
};

struct hjm_calibration {
  std::shared_ptr<const parameter_markovian_hjm> parameters;
  std::vector<fit_row> fit;
  double rms_bp = 0.0;
  double worst_bp = 0.0;
};

// The calibration inputs read from their files; every problem is an input_error
// naming the file.
std::shared_ptr<const calibration_ir_targets_configuration> read_targets(const std::string& file);
std::shared_ptr<const calibration_hjm_settings> read_settings(const std::string& file);
// {"correlation": [[…], …]}: a symmetric matrix with a unit diagonal.
matrix<double> read_correlation(const std::string& file);

// Calibrates at the money to the market's surface and writes the optimiser report and
// the library's fit table (market, model and difference in bp per target) to `report`,
// then one summary line. The settings' debug flag is ignored: the report is the point.
// `initial` (may be null) gives the starting decays and volatilities on the
// calibrator's date grids; without it several factors start apart from each other.
hjm_calibration calibrate_hjm(const market& m, const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                              const std::shared_ptr<const calibration_hjm_settings>& settings,
                              const matrix<double>& correlation,
                              const std::shared_ptr<const parameter_markovian_hjm>& initial, std::ostream& report);

// `tarvex calibrate hjm …`; returns the exit status.
int run_calibrate(const std::vector<std::string>& args);

}  // namespace tarvex::app
