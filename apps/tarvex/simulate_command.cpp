#include "simulate_command.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

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
    "                       [--paths-out DIR [--path-dates DATES] [--path-tenors TENORS]]\n"
    "\n"
    "Runs the Monte Carlo simulation a job file describes (valuation date, market file,\n"
    "simulation dates, risk factors and their parameter files, correlation, random\n"
    "numbers, batches) and writes into OUTDIR:\n"
    "  martingale.csv           per date and bond maturity: P(0,T), the Monte Carlo price\n"
    "                           of D(0,t) P(t,T), its standard error and the z-score\n"
    "  zero_rate_quantiles.csv  per zero-rate tenor and date: mean and quantiles of the\n"
    "                           simulated zero rate R(t, t + tenor); rank_error: how many\n"
    "                           paths each quantile's rank may be off (0: exact), and\n"
    "                           method: \"exact\" or \"compactor(N)\", N values per level\n"
    "  summary.json             the run's settings, largest martingale deviation, the\n"
    "                           quantile method and its largest rank error, and what the\n"
    "                           standard errors are\n"
    "The folder is written only when the run succeeds.\n"
    "Quantiles are exact while paths x dates x zero-rate tenors stays within 16777216;\n"
    "larger runs keep a mergeable summary per tenor and date (4096 values per level, or\n"
    "the job's \"quantile_capacity\"), so memory does not grow with paths x dates.\n"
    "Standard errors are sample standard errors; under \"sobol\" and\n"
    "\"sobol_brownian_bridge\" they do not bound the quasi-random estimate's error, and\n"
    "the outputs say so.\n"
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
    "                 Results do not depend on it.\n"
    "  --paths-out DIR      also write DIR/zero_rates.csv: one row per path (\"path\",\n"
    "                       from 0), one column per chosen date and tenor, named\n"
    "                       DATE_TENOR (\"2027-12-04_3M\"), values in shortest round-trip\n"
    "                       form; streamed batch by batch, the folder written only when\n"
    "                       the run succeeds. Single-currency jobs only.\n"
    "  --path-dates DATES   \"last\" (default), \"all\" or simulation dates separated by\n"
    "                       commas (2027-12-04,2031-12-04)\n"
    "  --path-tenors TENORS \"all\" (default) or zero-rate tenors of the job separated by\n"
    "                       commas (3M,10Y)\n";

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
    parts.push_back(text.substr(from, comma - from));
  parts.push_back(text.substr(from));
  return parts;
}

// The chosen simulation dates and tenors as indices, in the order given.
path_export choose_paths(const simulation_job& job, const paths_request& request) {
  path_export e;
  const std::size_t D = job.dates.size() - 1;
  if (request.dates == "all") {
    for (std::size_t k = 0; k < D; ++k) e.dates.push_back(k);
  } else if (request.dates == "last") {
    e.dates.push_back(D - 1);
  } else {
    for (const auto& text : split(request.dates)) {
      std::size_t k = 1;
      while (k <= D && job.dates[k].to_string() != text) ++k;
      if (k > D)
        throw input_error("tarvex simulate: --path-dates: '" + text +
                          "' is not a simulation date (expected \"all\", \"last\" or ISO dates of the job)");
      e.dates.push_back(k - 1);
    }
  }
  if (request.tenors == "all") {
    for (std::size_t z = 0; z < job.zero_rate_tenors.size(); ++z) e.tenors.push_back(z);
  } else {
    for (const auto& text : split(request.tenors)) {
      std::size_t z = 0;
      while (z < job.zero_rate_tenors.size() && job.zero_rate_tenors[z].to_string() != text) ++z;
      if (z == job.zero_rate_tenors.size())
        throw input_error("tarvex simulate: --path-tenors: '" + text + "' is not one of the job's zero_rate_tenors");
      e.tenors.push_back(z);
    }
  }
  return e;
}

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

simulation_result simulate(const simulation_job& job, const fs::path& output, bool plot, std::ostream& out,
                           const paths_request* paths) {
  path_export chosen;
  if (paths) {
    chosen = choose_paths(job, *paths);
    std::error_code a, b;
    if (fs::weakly_canonical(paths->folder, a) == fs::weakly_canonical(output, b) && !a && !b)
      throw input_error("tarvex simulate: --paths-out: must name another folder than --output");
  }
  output_folder folder(output);
  std::unique_ptr<output_folder> path_folder;
  std::ofstream path_file;
  fs::path path_name;
  if (paths) {
    path_folder = std::make_unique<output_folder>(paths->folder);
    path_name = path_folder->file("zero_rates.csv");
    path_file.open(path_name);
    path_file << "path";
    for (std::size_t d : chosen.dates)
      for (std::size_t z : chosen.tenors)
        path_file << ',' << job.dates[d + 1].to_string() << '_' << job.zero_rate_tenors[z].to_string();
    path_file << '\n';
    // Rows go out as each batch is folded: the file never waits in memory.
    chosen.write = [&](std::size_t first, std::size_t count, const std::vector<double>& values) {
      const std::size_t E = chosen.dates.size() * chosen.tenors.size();
      std::string row;
      char cell[32];
      for (std::size_t p = 0; p < count; ++p) {
        row = std::to_string(first + p);
        for (std::size_t c = 0; c < E; ++c) {
          row += ',';
          row.append(cell, std::to_chars(cell, cell + sizeof cell, values[p * E + c]).ptr);
        }
        row += '\n';
        path_file << row;
      }
      if (!path_file) throw input_error(path_name.string() + ": cannot write");
    };
  }
  simulation_result r;
  {
    progress_bar progress("simulate", job.batches * (job.dates.size() - 1));
    r = run_simulation(job, &progress, paths ? &chosen : nullptr);
  }
  if (paths) write_or_fail(path_file, path_name);
  const std::string method = quantile_method(r.paths, r.quantile_capacity);
  std::uint64_t rank_error = 0;
  for (const auto& e : r.zero_rank_error)
    for (std::uint64_t x : e) rank_error = std::max(rank_error, x);
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
    f << ",rank_error,method\n";
    const std::string tag = quantile_method_tag(r.paths, r.quantile_capacity);
    for (std::size_t z = 0; z < job.zero_rate_tenors.size(); ++z)
      for (std::size_t k = 0; k < D; ++k) {
        f << r.dates[k].to_string() << ',' << job.zero_rate_tenors[z].to_string() << ',' << number(r.zero_mean[z][k]);
        for (double v : r.zero_quantiles[z][k]) f << ',' << number(v);
        f << ',' << r.zero_rank_error[z][k] << ',' << tag << '\n';
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
    s["standard_error"] = standard_error_kind(job.generator);
    s["quantile_method"] = method;
    s["quantile_rank_error"] = rank_error;
    if (paths) s["paths_out"] = paths->folder.string() + "/zero_rates.csv";
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
  if (quasi_random(job.generator))
    out << "note: the points are quasi-random; these are sample standard errors, which do not bound the error of "
           "a quasi-random estimate\n";
  out << "quantiles: " << method;
  if (rank_error > 0) {
    std::snprintf(line, sizeof line, "; each rank within %llu of %zu paths (%.3g%%)",
                  static_cast<unsigned long long>(rank_error), r.paths, 100.0 * double(rank_error) / double(r.paths));
    out << line;
  }
  out << '\n';
  if (path_folder) {
    path_folder->commit();
    out << "per-path zero rates written to " << (paths->folder / "zero_rates.csv").string() << '\n';
  }
  folder.commit();
  out << "results written to " << output.string() << (drawn ? " (CSV and PNG)" : " (CSV)") << '\n';
  return r;
}

int run_simulate(const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("simulate", rest,
                         {"--job", "--output", "--threads", "--paths-out", "--path-dates", "--path-tenors"}, {"--plot"});
  if (cl.help()) {
    std::cout << simulate_help;
    return 0;
  }
  const std::string output = cl.value("--output");
  const std::string job_file = cl.value("--job");
  if (cl.has("--threads")) apply_threads("simulate", cl.value("--threads"));
  std::unique_ptr<paths_request> paths;
  if (cl.has("--paths-out")) {
    paths = std::make_unique<paths_request>();
    paths->folder = cl.value("--paths-out");
    paths->dates = cl.value_or("--path-dates", paths->dates);
    paths->tenors = cl.value_or("--path-tenors", paths->tenors);
  } else {
    for (const char* o : {"--path-dates", "--path-tenors"})
      if (cl.has(o)) throw input_error(std::string("tarvex simulate: ") + o + " needs --paths-out");
  }
  if (is_cross_asset_job(job_file)) {  // several currencies, FX, equities, credit
    if (paths) throw input_error("tarvex simulate: --paths-out: a job with \"currencies\" has no zero rates to export");
    simulate_cross_asset(read_cross_asset_job(job_file), output, cl.flag("--plot"), std::cout);
    return 0;
  }
  const simulation_job job = read_simulation_job(job_file);
  simulate(job, output, cl.flag("--plot"), std::cout, paths.get());
  return 0;
}

}  // namespace tarvex::app
