#include "demo_command.h"

#include <filesystem>
#include <iostream>

#include "bk_calibration.h"
#include "cheyette_calibration.h"
#include "command_line.h"
#include "hjm_calibration.h"
#include "input_error.h"
#include "library_file.h"
#include "output_folder.h"
#include "price_command.h"
#include "cross_asset_run.h"
#include "simulate_command.h"

#ifndef TARVEX_SAMPLE_MARKET
#define TARVEX_SAMPLE_MARKET "examples/market"
#endif

namespace tarvex::app {
namespace fs = std::filesystem;
namespace {

const char* demo_help =
    "usage: tarvex demo [--data DIR] [-o OUTDIR] [--threads N]\n"
    "\n"
    "Calibrates a two-factor Markovian HJM model to the sample market (DIR/market.json,\n"
    "targets.json, settings.json, correlation.json), simulates the job DIR/job.json on\n"
    "the calibrated parameters and writes the parameters, the CSV files and the charts\n"
    "into OUTDIR; then runs the two-currency sample DIR/cross_asset_job.json (rates,\n"
    "FX, equity and credit) into OUTDIR/cross_asset and the three-currency sample\n"
    "DIR/three_currency_job.json into OUTDIR/three_currency; then bootstraps\n"
    "Black-Karasinski levels to the credit curve DIR/credit/acme.json\n"
    "(OUTDIR/bk_credit_parameters.json) and runs DIR/bk_job.json (Black-Karasinski\n"
    "rates and that credit, correlated) into OUTDIR/black_karasinski; then fits\n"
    "Cheyette skews to the smile sample DIR/cheyette (OUTDIR/cheyette_parameters.json)\n"
    "and prices the Bermudan swaption of the trade samples beside DIR (DIR/../trades)\n"
    "by PDE on the two-factor parameters calibrated first.\n"
    "\n"
    "  --data         the sample data folder (default: the bundled examples/market)\n"
    "  -o, --output   the output folder (default: ./tarvex-demo)\n"
    "  --threads N    threads; 0 (default) uses every core\n";

// The sample data: an installed package's own copy (beside the executable, wherever the
// prefix was moved), else the source tree the executable was built from.
fs::path sample_folder(const std::string& given) {
  if (!given.empty()) return given;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
#ifdef TARVEX_INSTALLED_MARKET
  if (!ec) {
    const fs::path installed = (self.parent_path() / TARVEX_INSTALLED_MARKET).lexically_normal();
    if (fs::exists(installed / "market.json", ec)) return installed;
  }
#endif
  if (fs::exists(fs::path(TARVEX_SAMPLE_MARKET) / "market.json", ec)) return TARVEX_SAMPLE_MARKET;
  return "examples/market";
}

}  // namespace

int run_demo(const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("demo", rest, {"--data", "--output", "--threads"}, {});
  if (cl.help()) {
    std::cout << demo_help;
    return 0;
  }
  if (cl.has("--threads")) apply_threads("demo", cl.value("--threads"));
  const fs::path data = sample_folder(cl.value_or("--data", ""));
  const fs::path output = cl.value_or("--output", "tarvex-demo");

  simulation_job job = read_simulation_job((data / "job.json").string());
  const auto targets = read_targets((data / "targets.json").string());
  const auto settings = read_settings((data / "settings.json").string());
  const matrix<double> correlation = read_correlation((data / "correlation.json").string());

  std::cout << "== calibration: " << settings->number_of_factors() << "-factor Markovian HJM to "
            << (data / "market.json").string() << "\n";
  if (!job.today.description.empty()) std::cout << job.today.description << "\n";
  const hjm_calibration calibrated = calibrate_hjm(job.today, targets, settings, correlation, nullptr, std::cout);
  // The demo holds its sample to the command line's default limit.
  const std::string complaint = poor_fit(calibrated, 1.0);
  if (!complaint.empty()) {
    std::cout.flush();
    std::cerr << "tarvex: error: " << complaint << "; nothing simulated or written\n";
    return 3;
  }

  // The job simulates the model just calibrated, under its own factor correlation.
  job.factors.front().parameters = calibrated.parameters;
  job.correlation = calibrated.parameters->correlation();
  std::cout << "\n== simulation: " << (data / "job.json").string() << " on the calibrated parameters\n";
  simulate(job, output, true, std::cout);

  // The parameters join the results only once the simulation has succeeded.
  output_file parameters(output / "hjm_parameters.json");
  parameter_markovian_hjm::write_to_json(parameters.temporary().string(), calibrated.parameters);
  parameters.commit();
  std::cout << "calibrated parameters written to " << (output / "hjm_parameters.json").string() << '\n';

  // The two-currency sample (EUR and USD rates, EURUSD, an equity index, a CIR credit).
  const fs::path cross_asset = data / "cross_asset_job.json";
  if (fs::exists(cross_asset)) {
    std::cout << "\n== cross-asset simulation: " << cross_asset.string() << '\n';
    simulate_cross_asset(read_cross_asset_job(cross_asset.string()), output / "cross_asset", true, std::cout);
  }
  // The three-currency sample (USD, EUR and GBP rates, two FX rates, a EUR equity and
  // credit beside USD ones): a few seconds.
  const fs::path three = data / "three_currency_job.json";
  if (fs::exists(three)) {
    std::cout << "\n== three-currency simulation: " << three.string() << '\n';
    simulate_cross_asset(read_cross_asset_job(three.string()), output / "three_currency", true, std::cout);
  }

  // The credit sample: the bootstrap on its own (fit table and levels), then the job
  // that bootstraps the same curve and simulates it beside Black–Karasinski rates.
  const fs::path credit = data / "credit" / "acme.json", bk_job = data / "bk_job.json";
  if (fs::exists(credit) && fs::exists(bk_job)) {
    std::cout << "\n== credit bootstrap: Black-Karasinski levels to " << credit.string() << '\n';
    std::cout.flush();
    run_calibrate_bk({"--market", credit.string(), "--settings", (data / "credit" / "settings.json").string(), "--curve",
                      "credit", "-o", (output / "bk_credit_parameters.json").string()});
    std::cout << "\n== Black-Karasinski simulation: " << bk_job.string() << '\n';
    simulate_cross_asset(read_cross_asset_job(bk_job.string()), output / "black_karasinski", true, std::cout);
  }

  // The smile sample: one-factor Cheyette skews fitted to a synthetic volatility cube.
  const fs::path smile = data / "cheyette";
  if (fs::exists(smile / "market.json")) {
    std::cout << "\n== Cheyette smile calibration: " << (smile / "market.json").string() << '\n';
    std::cout.flush();
    const int status = run_calibrate_cheyette(
        {"--market", (smile / "market.json").string(), "--targets", (smile / "targets.json").string(), "--settings",
         (smile / "settings.json").string(), "--hjm", (smile / "hjm_parameters.json").string(), "-o",
         (output / "cheyette_parameters.json").string()});
    if (status != 0) return status;
  }

  // The trade samples beside the market folder: a Bermudan swaption by PDE (ADI) on the
  // two-factor parameters calibrated above.
  const fs::path trades = data.parent_path() / "trades";
  if (fs::exists(trades / "bermudan_10nc1.json")) {
    std::cout << "\n== Bermudan swaption by PDE on the calibrated parameters: "
              << (trades / "bermudan_10nc1.json").string() << '\n';
    std::cout.flush();
    const int status = run_price({"swaption", "--market", (data / "market.json").string(), "--params",
                                  (output / "hjm_parameters.json").string(), "--trade",
                                  (trades / "bermudan_10nc1.json").string()});
    if (status != 0) return status;
  }
  return 0;
}

}  // namespace tarvex::app
