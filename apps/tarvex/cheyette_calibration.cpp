#include "cheyette_calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette.h"
#include "Util/datetime_helper.h"
#include "activity_indicator.h"
#include "command_line.h"
#include "hjm_calibration.h"
#include "input_error.h"
#include "library_file.h"
#include "market_file.h"
#include "output_folder.h"

namespace tarvex::app {
namespace {

// The Cheyette settings' fields, walked like the other library files' (library_file.h),
// then the library's reader.
std::shared_ptr<const calibration_cheyette_settings> read_cheyette_settings(const std::string& file) {
  using namespace library_fields;
  const json_node root = json_node::load(file).at("root");
  bounds(root.at("volatility_bounds"));
  bounds(root.at("decay_bounds"));
  bounds(root.at("skew_bounds"));
  type_value(root.at("type"));
  root.at("tolerance").non_negative_number();
  root.at("debug").boolean();
  const std::int64_t iterations = root.at("max_iterations").integer();
  if (iterations < 1 || iterations > 100000) root.at("max_iterations").fail("an integer from 1 to 100000");
  try {
    return calibration_cheyette_settings::read_from_json(file);
  } catch (const std::exception& e) {
    throw input_error(file + ": $.root: not a valid Cheyette calibration settings file (" + e.what() + ")");
  }
}

const char* help =
    "usage: tarvex calibrate cheyette --market M.json --targets T.json --settings S.json\n"
    "                                 --hjm P.json -o PARAMS.json [--max-rms BP] [--accept-poor-fit]\n"
    "\n"
    "Calibrates a one-factor Cheyette model to the swaption smiles of the market file's\n"
    "swaption_normal_vol_cube: the decays and volatilities of the HJM parameters (the\n"
    "start) and one skew per smile. Prints the optimiser's stop reason, a smile fit table\n"
    "per target (strike, market vol, model vol, model - market in bp) and the skews.\n"
    "\n"
    "  --market           the market file, with a swaption_normal_vol_cube\n"
    "  --targets          calibration_ir_targets_configuration file: caplets and/or\n"
    "                     co-terminals, with one row of strike offsets (decimal) per target\n"
    "  --settings         calibration_cheyette_settings file: bounds, optimiser\n"
    "  --hjm              one-factor Markovian HJM parameters whose volatility dates include\n"
    "                     every target expiry (from tarvex calibrate hjm on the same targets)\n"
    "  -o, --output       where to write the calibrated Cheyette parameters\n"
    "  --max-rms BP       the worst RMS misfit accepted, in bp (default 1): a worse fit\n"
    "                     exits with status 3 and writes nothing\n"
    "  --accept-poor-fit  write the parameters of a worse fit anyway (status 0, warning)\n";

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

double max_rms(const command_line& cl) {
  if (!cl.has("--max-rms")) return 1.0;
  const std::string& text = cl.value("--max-rms");
  std::size_t used = 0;
  double v = -1.0;
  try {
    v = std::stod(text, &used);
  } catch (...) {
    used = 0;
  }
  if (used != text.size() || !(v > 0.0) || !std::isfinite(v))
    throw input_error("tarvex calibrate cheyette: --max-rms: expected a positive number of bp, got '" + text + "'");
  return v;
}

// The inputs the library leaves to its callers, checked here so that they read as
// input errors naming the file.
void check_inputs(const calibration_ir_cheyette& c, const parameter_markovian_hjm& hjm, const std::string& hjm_file) {
  if (hjm.number_of_factors() != 1)
    throw input_error(hjm_file + ": expected one-factor HJM parameters (the smile pricing is one-factor), got " +
                      std::to_string(hjm.number_of_factors()) + " factors");
  const auto& dates = hjm.volatilities_dates();
  for (const auto& s : c.swaptions())
    if (std::find(dates.begin(), dates.end(), s->expiry()) == dates.end())
      throw input_error(hjm_file + ": the volatility dates do not include the target expiry " +
                        s->expiry().to_string() + " (parameters calibrated to another target grid?)");
}

}  // namespace

int run_calibrate_cheyette(const std::vector<std::string>& args) {
  std::vector<std::string> rest(args);
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("calibrate cheyette", rest,
                        {"--market", "--targets", "--settings", "--hjm", "--output", "--max-rms"}, {"--accept-poor-fit"});
  if (cl.help()) {
    std::cout << help;
    return 0;
  }
  const std::string output = cl.value("--output");
  const double limit = max_rms(cl);
  const std::string market_file = cl.value("--market"), targets_file = cl.value("--targets");
  const market m = read_market(market_file);
  if (!m.cube)
    throw input_error(market_file + ": missing field \"swaption_normal_vol_cube\" (the Cheyette calibration fits smiles)");
  const auto targets = read_targets(targets_file);
  std::size_t needed = 0;
  const auto settings = read_cheyette_settings(cl.value("--settings"));
  const std::string hjm_file = cl.value("--hjm");
  const auto read = read_library_file<parameter_markovian_hjm>(hjm_file, "Markovian HJM parameters");
  // Count the targets the calibrator will build, so a short strike table is an input error.
  if (targets->include_caplets()) needed += targets->expiries().size();
  if (targets->include_coterminal()) {
    const datetime c = datetime_helper::add_tenor(m.valuation_date, targets->coterminal(), 1);
    for (const auto& e : targets->expiries())
      if (datetime_helper::add_tenor(m.valuation_date, e, 1) < c) ++needed;
  }
  if (needed == 0) throw input_error(targets_file + ": the targets select no caplet or co-terminal smile");
  if (targets->strikes().size() < needed)
    throw input_error(targets_file + ": $.root.strikes: expected " + std::to_string(needed) +
                      " rows of strike offsets, one per target, got " + std::to_string(targets->strikes().size()));
  const calibration_ir_cheyette calibration(m.valuation_date, m.curve, targets, m.day_count);
  check_inputs(calibration, *read, hjm_file);
  // The calibration writes the fitted decays and volatilities into the HJM set it is
  // given: hand it a copy of our own.
  const auto hjm = std::make_shared<const parameter_markovian_hjm>(*read);
  output_file file(output);

  calibration_ir_cheyette_report report;
  std::shared_ptr<const parameter_cheyette> result;
  {
    const activity_indicator running("calibrate cheyette");
    result = calibration.calibrate(m.cube, settings, hjm, report);
  }
  std::cout << "optimiser: " << to_string(report.optimiser.termination) << " after " << report.optimiser.iterations
            << " iterations\n";
  for (std::size_t i = 0; i < calibration.swaptions().size(); ++i) {
    const auto& swap = *calibration.swaptions()[i]->swaptions()->swap();
    const auto& t = report.targets[i];
    std::cout << "\nsmile " << swap.expiry().to_string() << " into " << swap.all_dates().back().to_string()
              << format(" (forward %.4f%%)\n", 100.0 * swap.swap_rate());
    std::cout << "  strike(%)  market(bp)  model(bp)  diff(bp)\n";
    for (std::size_t j = 0; j < t.strikes.size(); ++j)
      std::cout << format("  %9.4f", 100.0 * t.strikes[j]) << format("  %10.2f", 1e4 * t.market[j])
                << format("  %9.2f", 1e4 * t.model[j]) << format("  %+8.3f", 1e4 * (t.model[j] - t.market[j]))
                << (t.weights[j] ? "" : "  (repeats the previous quote: not fitted)") << '\n';
  }
  std::cout << "\nskews:\n";
  for (std::size_t k = 0; k < result->skew_parameter().rows(); ++k)
    std::cout << "  from " << result->skew_parameter_dates()[k].to_string()
              << format("  %.6f\n", result->skew_parameter()(k, 0));
  std::cout << format("fit: RMS %.4f bp", report.rms_bp) << format(", worst %.4f bp\n", report.worst_bp);
  if (report.rms_bp > limit) {
    const std::string complaint =
        format("poor fit: RMS %.4f bp", report.rms_bp) + format(" is above the limit of %g bp", limit);
    if (!cl.flag("--accept-poor-fit")) {
      std::cout.flush();
      std::cerr << "tarvex: error: " << complaint << "; nothing written (--accept-poor-fit writes it anyway)\n";
      return 3;
    }
    std::cerr << "tarvex: warning: " << complaint << "; written as asked\n";
  }
  parameter_cheyette::write_to_json(file.temporary().string(), result);
  file.commit();
  std::cout << "parameters written to " << output << '\n';
  return 0;
}

}  // namespace tarvex::app
