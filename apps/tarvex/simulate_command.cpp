#include "simulate_command.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "Core/parallel_for.h"
#include "charts.h"
#include "cross_asset_run.h"
#include "command_line.h"
#include "input_error.h"
#include "output_folder.h"
#include "progress_bar.h"

namespace tarvex::app {
namespace fs = std::filesystem;
namespace {

std::string number(double x, const char* format = "%.10g") {
  if (std::isnan(x)) return "";
  char text[40];
  std::snprintf(text, sizeof text, format, x);
  return text;
}

void write_or_fail(std::ofstream& f, const fs::path& p) {
  f.close();
  if (!f) throw input_error(p.string() + ": cannot write");
}

const char* simulate_help =
    "usage: tarvex simulate --job J.json -o OUTDIR [--plot] [--threads N]\n"
    "\n"
    "Runs the Monte Carlo simulation a job file describes (valuation date, market file,\n"
    "simulation dates, risk factors and their parameter files, correlation, random\n"
    "numbers, batches) and writes into OUTDIR:\n"
    "  martingale.csv           per date and bond maturity: P(0,T), the Monte Carlo price\n"
    "                           of D(0,t) P(t,T), its standard error and the z-score\n"
    "  zero_rate_quantiles.csv  per zero-rate tenor and date: mean and quantiles of the\n"
    "                           simulated zero rate R(t, t + tenor)\n"
    "  summary.json             the run's settings and largest martingale deviation\n"
    "The folder is written only when the run succeeds.\n"
    "A job with \"currencies\" (see examples/market/cross_asset_job.json and\n"
    "three_currency_job.json) runs any number of currencies, an FX rate per foreign\n"
    "currency, equities and credit entities in any of them under the first currency's\n"
    "measure and writes martingale.csv (per asset class), quantiles.csv (spots, survival\n"
    "probabilities and hazard rates), summary.json and, with --plot, a fan chart per\n"
    "asset. Its rates and credits may be Black-Karasinski, bootstrapped when the job is\n"
    "read (see examples/market/bk_job.json).\n"
    "\n"
    "  --job          the simulation job file (see examples/market/job.json)\n"
    "  -o, --output   the output folder (created when missing)\n"
    "  --plot         also draw zero_rate_fan.png and martingale.png with gnuplot\n"
    "  --threads N    threads running the batches; 0 (default) uses every core.\n"
    "                 Results do not depend on it.\n";

}  // namespace

void apply_threads(const std::string& command, const std::string& text) {
  std::size_t used = 0;
  long n = -1;
  try {
    n = std::stol(text, &used);
  } catch (...) {
  }
  if (used != text.size() || n < 0)
    throw input_error("tarvex " + command + ": --threads: expected a non-negative integer, got '" + text + "'");
  smp_tools_api::GetInstance().SetNumberOfThreads(static_cast<std::size_t>(n));
}

simulation_result simulate(const simulation_job& job, const fs::path& output, bool plot, std::ostream& out) {
  output_folder folder(output);
  simulation_result r;
  {
    progress_bar progress("simulate", job.batches * (job.dates.size() - 1));
    r = run_simulation(job, &progress);
  }
  const std::size_t D = r.dates.size(), M = r.maturities.size();

  double worst = 0.0;
  std::size_t worst_k = 0, worst_m = 0;
  {
    const fs::path p = folder.file("martingale.csv");
    std::ofstream f(p);
    f << "date,maturity,P0,mc,se,z\n";
    for (std::size_t m = 0; m < M; ++m)
      for (std::size_t k = 0; k < D; ++k) {
        const double z = (r.mean[k][m] - r.today[k][m]) / r.error[k][m];
        if (std::fabs(z) > std::fabs(worst)) worst = z, worst_k = k, worst_m = m;
        f << r.dates[k].to_string() << ',' << r.maturities[m].to_string() << ',' << number(r.today[k][m]) << ','
          << number(r.mean[k][m]) << ',' << number(r.error[k][m], "%.6g") << ',' << number(z, "%.4f") << '\n';
      }
    write_or_fail(f, p);
  }
  {
    const fs::path p = folder.file("zero_rate_quantiles.csv");
    std::ofstream f(p);
    f << "date,tenor,mean";
    for (double q : job.quantiles) f << ",q" << number(q, "%g");
    f << '\n';
    for (std::size_t z = 0; z < job.zero_rate_tenors.size(); ++z)
      for (std::size_t k = 0; k < D; ++k) {
        f << r.dates[k].to_string() << ',' << job.zero_rate_tenors[z].to_string() << ',' << number(r.zero_mean[z][k]);
        for (double v : r.zero_quantiles[z][k]) f << ',' << number(v);
        f << '\n';
      }
    write_or_fail(f, p);
  }
  {
    const fs::path p = folder.file("summary.json");
    std::ofstream f(p);
    json s;
    s["job"] = job.file;
    s["valuation_date"] = job.today.valuation_date.to_string();
    s["generator"] = generator_name(job.generator);
    s["seed"] = job.seed;
    s["paths"] = r.paths;
    s["batches"] = job.batches;
    s["simulation_dates"] = D;
    s["factors"] = job.correlation.rows();
    s["largest_martingale_z"] = worst;
    s["largest_martingale_z_date"] = r.dates[worst_k].to_string();
    s["largest_martingale_z_maturity"] = r.maturities[worst_m].to_string();
    f << s.dump(2) << '\n';
    write_or_fail(f, p);
  }
  bool drawn = false;
  if (plot) drawn = draw_charts(folder.file(""), job, r, std::cerr);

  // The report: the martingale check on about ten dates, then the worst deviation.
  char line[200];
  std::snprintf(line, sizeof line, "simulated %zu paths (%zu batches of %zu, %s, seed %zu) on %zu dates in %.2f s\n",
                r.paths, job.batches, job.paths_per_batch, generator_name(job.generator).c_str(), job.seed, D,
                r.seconds);
  out << line << "\nmartingale check: Monte Carlo price of D(0,t) P(t,T) against today's P(0,T)\n";
  out << "date      ";
  for (const auto& T : r.maturities) {
    std::snprintf(line, sizeof line, " | %-31s", ("T = " + T.to_string() + ": P0, MC - P0 (se)").c_str());
    out << line;
  }
  out << '\n';
  const std::size_t every = std::max<std::size_t>(1, D / 10);
  for (std::size_t k = every - 1; k < D; k += every) {
    out << r.dates[k].to_string();
    for (std::size_t m = 0; m < M; ++m) {
      if (std::isnan(r.mean[k][m])) {
        std::snprintf(line, sizeof line, " | %31s", "matured");
      } else {
        std::snprintf(line, sizeof line, " | %9.6f %+10.2e (%8.2e)", r.today[k][m], r.mean[k][m] - r.today[k][m],
                      r.error[k][m]);
      }
      out << line;
    }
    out << '\n';
  }
  std::snprintf(line, sizeof line, "largest deviation: %+.2f standard errors (%s, T = %s): %s\n", worst,
                r.dates[worst_k].to_string().c_str(), r.maturities[worst_m].to_string().c_str(),
                std::fabs(worst) < 3.0 ? "within 3 standard errors on every date" : "OUTSIDE 3 standard errors");
  out << line;
  folder.commit();
  out << "results written to " << output.string() << (drawn ? " (CSV and PNG)" : " (CSV)") << '\n';
  return r;
}

int run_simulate(const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("simulate", rest, {"--job", "--output", "--threads"}, {"--plot"});
  if (cl.help()) {
    std::cout << simulate_help;
    return 0;
  }
  const std::string output = cl.value("--output");
  const std::string job_file = cl.value("--job");
  if (cl.has("--threads")) apply_threads("simulate", cl.value("--threads"));
  if (is_cross_asset_job(job_file)) {  // several currencies, FX, equities, credit
    simulate_cross_asset(read_cross_asset_job(job_file), output, cl.flag("--plot"), std::cout);
    return 0;
  }
  const simulation_job job = read_simulation_job(job_file);
  simulate(job, output, cl.flag("--plot"), std::cout);
  return 0;
}

}  // namespace tarvex::app
