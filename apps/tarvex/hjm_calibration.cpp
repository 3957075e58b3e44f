#include "hjm_calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Core/logger.h"
#include "activity_indicator.h"
#include "command_line.h"
#include "correlation_input.h"
#include "input_error.h"
#include "library_file.h"
#include "output_folder.h"

namespace tarvex::app {
namespace {

// The library reports through the logger; while a command runs its lines go to the
// command's report stream without the "[level] source:line" prefix.
std::ostream* report_stream = nullptr;
std::mutex report_mutex;

void report_sink(int, const std::string& line) {
  std::lock_guard lock(report_mutex);
  std::size_t text = line.find("] ");
  text = text == std::string::npos ? 0 : line.find(' ', text + 2);
  *report_stream << (text == std::string::npos ? line : line.substr(text + 1)) << '\n';
}

struct report_to {
  int cutoff;
  explicit report_to(std::ostream& out) : cutoff(logger::GetCurrentVerbosityCutoff()) {
    report_stream = &out;
    logger::SetSink(&report_sink);
    logger::SetVerbosityCutoff(static_cast<int>(verbosity::error));
  }
  ~report_to() {
    logger::SetSink(nullptr);
    logger::SetVerbosityCutoff(cutoff);
  }
};

// The calibrator's own start gives every factor the same decay and volatility, which
// leaves a multi-factor problem symmetric: the optimiser cannot tell the factors apart.
// Unless the user gives a start, the factors begin apart: decays spread geometrically
// from 0.02 (a slow, level-like factor) to 0.8 of the upper decay bound (a fast one),
// clipped into the bounds, and each volatility row at the market vol of the target's
// expiry divided by the square root of the factor count, so the factors together start
// near the market level.
std::shared_ptr<const parameter_markovian_hjm> staggered_start(const calibration_ir_hjm& c, const market& m,
                                                               const matrix<double>& correlation,
                                                               const calibration_hjm_settings& s) {
  const std::size_t n = correlation.rows();
  if (n < 2) return nullptr;
  const double lo = std::min(s.decay_bounds()[0], s.decay_bounds()[1]);
  const double hi = std::max(s.decay_bounds()[0], s.decay_bounds()[1]);
  const double slow = std::clamp(0.02, lo + 0.01 * (hi - lo), hi - 0.01 * (hi - lo));
  const double fast = std::max(slow, std::min(0.8 * hi, hi - 0.01 * (hi - lo)));
  const double vlo = std::min(s.volatility_bounds()[0], s.volatility_bounds()[1]);
  const double vhi = std::max(s.volatility_bounds()[0], s.volatility_bounds()[1]);
  matrix<double> decays(c.maturity_dates().size(), n), vols(c.expiry_dates().size(), n);
  for (std::size_t f = 0; f < n; ++f) {
    const double k = slow * std::pow(fast / slow, static_cast<double>(f) / static_cast<double>(n - 1));
    for (std::size_t i = 0; i < decays.rows(); ++i) decays(i, f) = k;
  }
  for (std::size_t j = 0; j < vols.rows(); ++j) {
    const double t = m.day_count->fraction(m.valuation_date, c.expiry_dates()[j]);
    const double v = m.surface->volatility(t, c.swaptions()[0]->swaption()->tenor_double());
    for (std::size_t f = 0; f < n; ++f)
      vols(j, f) = std::clamp(v / std::sqrt(static_cast<double>(n)), vlo + 0.01 * (vhi - vlo), vhi - 0.01 * (vhi - vlo));
  }
  return std::make_shared<const parameter_markovian_hjm>(decays, vols, correlation, c.maturity_dates(),
                                                         c.expiry_dates(), c.day_count(), s.type());
}

}  // namespace

std::shared_ptr<const calibration_ir_targets_configuration> read_targets(const std::string& file) {
  return read_library_file<calibration_ir_targets_configuration>(file, "calibration targets");
}

std::shared_ptr<const calibration_hjm_settings> read_settings(const std::string& file) {
  auto s = read_library_file<calibration_hjm_settings>(file, "HJM calibration settings");
  if (s->number_of_factors() < 1 || s->number_of_factors() > 8)
    throw input_error(file + ": $.root.mumber_of_factors: expected 1 to 8 factors, got " +
                      std::to_string(s->number_of_factors()));
  for (const auto* bounds : {&s->volatility_bounds(), &s->decay_bounds()})
    if (bounds->size() < 2 || !std::isfinite((*bounds)[0]) || !std::isfinite((*bounds)[1]) ||
        (*bounds)[0] == (*bounds)[1])
      throw input_error(file + ": " + (bounds == &s->volatility_bounds() ? "$.root.volatility_bounds" : "$.root.decay_bounds") +
                        ": expected two different finite numbers");
  if (s->max_iterations() < 1) throw input_error(file + ": $.root.max_iterations: expected a positive integer");
  return s;
}

matrix<double> read_correlation(const std::string& file) {
  return read_correlation_matrix(json_node::load(file).at("correlation"));
}

hjm_calibration calibrate_hjm(const market& m, const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                              const std::shared_ptr<const calibration_hjm_settings>& settings,
                              const matrix<double>& correlation,
                              const std::shared_ptr<const parameter_markovian_hjm>& initial, std::ostream& report) {
  if (correlation.rows() != settings->number_of_factors())
    throw input_error("the correlation has " + std::to_string(correlation.rows()) + " factors but the settings ask for " +
                      std::to_string(settings->number_of_factors()));
  const calibration_ir_hjm calibration(m.valuation_date, m.curve, targets, m.day_count);
  if (calibration.swaptions().empty()) throw input_error("the targets file selects no calibration instrument");
  const auto& s = *settings;
  const auto reporting = std::make_shared<const calibration_hjm_settings>(
      s.number_of_factors(), s.volatility_bounds(), s.decay_bounds(), s.type(), true, s.max_iterations(),
      s.jacobian_with_aad_flag(), s.calibrate_correlation_flag(), s.tolerance(), s.regularization_factor(),
      s.regularization_flag(), s.calibrate_to_all_target_flag());

  hjm_calibration out;
  const auto start = initial ? initial : staggered_start(calibration, m, correlation, s);
  {
    // The library's report is held back until the indicator has cleared its line.
    std::ostringstream library_report;
    {
      const activity_indicator running("calibrate hjm");
      const report_to redirect(library_report);
      out.parameters = calibration.calibrate(m.surface, correlation, reporting, {}, start);
    }
    report << library_report.str();
  }

  // Every target's fit, whether or not it entered the optimisation.
  const model_markovian_hjm model(*out.parameters, m.valuation_date, {}, true, {});
  double sum2 = 0.0;
  for (const auto& target : calibration.swaptions()) {
    const double strike = target->swap_rate();
    vector<double> root;
    target->initial_root(root, strike, model);
    fit_row row;
    row.expiry = target->swaption()->expiry();
    row.end = target->swaption()->end();
    row.market = target->swaption()->implied_volatility(*m.surface, strike);
    row.model = target->implied_volatility(strike, model, root, 50, 1e-12);
    const double diff = 1e4 * (row.model - row.market);
    sum2 += diff * diff;
    out.worst_bp = std::max(out.worst_bp, std::fabs(diff));
    out.fit.push_back(row);
  }
  out.rms_bp = std::sqrt(sum2 / static_cast<double>(out.fit.size()));
  char line[160];
  std::snprintf(line, sizeof line, "fit over %zu targets: RMS %.4f bp, worst %.4f bp", out.fit.size(), out.rms_bp,
                out.worst_bp);
  report << line << '\n';
  return out;
}

namespace {
const char* calibrate_help =
    "usage: tarvex calibrate hjm --market M.json --targets T.json --settings S.json\n"
    "                            [--correlation C.json] [--initial P.json] -o PARAMS.json\n"
    "\n"
    "Calibrates a Markovian HJM model at the money to the swaption normal volatilities of\n"
    "the market file and writes the parameters. Prints the optimiser report and the fit\n"
    "table (market, model and difference in bp per target).\n"
    "\n"
    "  --market       the market file (curve and swaption normal-vol grid)\n"
    "  --targets      calibration_ir_targets_configuration file: which swaptions to fit\n"
    "  --settings     calibration_hjm_settings file: factors, bounds, optimiser\n"
    "  --correlation  {\"correlation\": [[...]]}; default: the identity\n"
    "  --initial      Markovian HJM parameters to start from, on the calibration's date\n"
    "                 grids; default: factors spread from slow to fast decays\n"
    "  -o, --output   where to write the calibrated parameters (written on success only)\n";
}  // namespace

int run_calibrate(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << calibrate_help;
    if (args.empty()) throw input_error("tarvex calibrate: name the model (only 'hjm' for now)");
    return 0;
  }
  if (args[0] != "hjm") throw input_error("tarvex calibrate: unknown model '" + args[0] + "' (only 'hjm' for now)");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("calibrate hjm", rest, {"--market", "--targets", "--settings", "--correlation", "--initial", "--output"}, {});
  if (cl.help()) {
    std::cout << calibrate_help;
    return 0;
  }
  const std::string output = cl.value("--output");
  const market m = read_market(cl.value("--market"));
  const auto targets = read_targets(cl.value("--targets"));
  const auto settings = read_settings(cl.value("--settings"));
  matrix<double> correlation;
  if (cl.has("--correlation")) {
    correlation = read_correlation(cl.value("--correlation"));
  } else {
    const std::size_t n = settings->number_of_factors();
    correlation = matrix<double>(n, n, 0.0);
    for (std::size_t i = 0; i < n; ++i) correlation(i, i) = 1.0;
  }
  output_file file(output);
  std::shared_ptr<const parameter_markovian_hjm> initial;
  if (cl.has("--initial")) initial = read_library_file<parameter_markovian_hjm>(cl.value("--initial"), "Markovian HJM parameters");
  const hjm_calibration result = calibrate_hjm(m, targets, settings, correlation, initial, std::cout);
  parameter_markovian_hjm::write_to_json(file.temporary().string(), result.parameters);
  file.commit();
  std::cout << "parameters written to " << output << '\n';
  return 0;
}

}  // namespace tarvex::app
