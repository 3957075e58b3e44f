#include "hjm_calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Core/error.h"
#include "Core/logger.h"
#include "Util/datetime_helper.h"
#include "activity_indicator.h"
#include "command_line.h"
#include "correlation_input.h"
#include "bk_calibration.h"
#include "cheyette_calibration.h"
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

// The library's own start gives every factor the same decay (the middle of the decay
// bounds, a fast mean reversion on usual bounds, under which long swaptions cannot reach
// their vols) and leaves a multi-factor problem symmetric, so the command line starts
// from its own: decays spread geometrically from 0.03 (a slow, level-like factor) to 0.3
// (a fast one: faster starts park a factor on the upper bound, dead, on the sample
// markets), and each volatility row at the market vol of
// the row's expiry divided by the square root of the factor count, so the factors
// together start near the market level; everything just inside the bounds.
std::shared_ptr<const parameter_markovian_hjm> own_start(const calibration_ir_hjm& c, const market& m,
                                                         const matrix<double>& correlation,
                                                         const calibration_hjm_settings& s) {
  const std::size_t n = correlation.rows();
  const double lo = std::min(s.decay_bounds()[0], s.decay_bounds()[1]);
  const double hi = std::max(s.decay_bounds()[0], s.decay_bounds()[1]);
  const double slow = std::clamp(0.03, lo + 0.01 * (hi - lo), hi - 0.01 * (hi - lo));
  const double fast = std::max(slow, std::min(0.3, hi - 0.01 * (hi - lo)));
  const double vlo = std::min(s.volatility_bounds()[0], s.volatility_bounds()[1]);
  const double vhi = std::max(s.volatility_bounds()[0], s.volatility_bounds()[1]);
  matrix<double> decays(c.maturity_dates().size(), n), vols(c.expiry_dates().size(), n);
  for (std::size_t f = 0; f < n; ++f) {
    const double k = n == 1 ? slow : slow * std::pow(fast / slow, static_cast<double>(f) / static_cast<double>(n - 1));
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

// The settings with the given smoothness penalty (and no library debug output: the
// command prints its own report).
std::shared_ptr<const calibration_hjm_settings> with_penalty(const calibration_hjm_settings& s, bool regularize,
                                                             double weight) {
  return std::make_shared<const calibration_hjm_settings>(
      s.number_of_factors(), s.volatility_bounds(), s.decay_bounds(), s.type(), false, s.max_iterations(),
      s.jacobian_with_aad_flag(), s.calibrate_correlation_flag(), s.tolerance(), weight, regularize,
      s.calibrate_to_all_target_flag());
}

// Moves entries the first stage left on a bound a little inside, where the bounded map
// still has a slope the second stage can use.
std::shared_ptr<const parameter_markovian_hjm> inside_bounds(const parameter_markovian_hjm& p,
                                                             const calibration_hjm_settings& s) {
  auto pull = [](matrix<double> q, const std::vector<double>& b) {
    const double lo = std::min(b[0], b[1]), hi = std::max(b[0], b[1]), margin = 1e-4 * (hi - lo);
    for (std::size_t e = 0; e < q.size(); ++e) q.data()[e] = std::clamp(q.data()[e], lo + margin, hi - margin);
    return q;
  };
  return std::make_shared<const parameter_markovian_hjm>(pull(p.decays(), s.decay_bounds()),
                                                         pull(p.volatilities(), s.volatility_bounds()), p.correlation(),
                                                         p.decays_dates(), p.volatilities_dates(), p.day_convention(),
                                                         p.model_type());
}

// Tikhonov weight of the first stage. Residuals are vol errors in hundredths of a basis
// point, so with 1e8 a 0.01 bp step between neighbouring volatility rows costs as much
// as a 1 bp miss: the rows move as one, and the stage fits constant parameters.
constexpr double tied_rows = 1e8;

// Labels every target as the calibrator built it: caplets, co-terminals (expiries
// before the co-terminal date), then the grid with the tenor as the outer loop.
void label_targets(hjm_calibration& out, const calibration_ir_hjm& c, const market& m,
                   const calibration_ir_targets_configuration& t) {
  for (const tenor& e : t.expiries()) out.rows.push_back(e.to_string());
  auto column = [&](const std::string& name) {
    out.columns.push_back(name);
    return out.columns.size() - 1;
  };
  if (t.include_caplets()) {
    const std::size_t k = column("caplet");
    for (std::size_t e = 0; e < t.expiries().size(); ++e) out.cells.push_back({e, k, false});
  }
  if (t.include_coterminal()) {
    const std::size_t k = column("co-term");
    const datetime end = datetime_helper::add_tenor(c.valuation_date(), t.coterminal(), 1);
    for (std::size_t e = 0; e < t.expiries().size(); ++e)
      if (datetime_helper::add_tenor(c.valuation_date(), t.expiries()[e], 1) < end) out.cells.push_back({e, k, false});
  }
  if (t.include_cms())
    for (const tenor& tn : t.cms_tenors()) {
      const std::size_t k = column(tn.to_string());
      for (std::size_t e = 0; e < t.expiries().size(); ++e) out.cells.push_back({e, k, false});
    }
  if (out.cells.size() != c.swaptions().size()) throw std::logic_error("fit table: target count mismatch");
  const auto& ex = m.surface->expiries();
  const auto& te = m.surface->tenors();
  constexpr double slack = 1e-9;
  for (std::size_t i = 0; i < out.cells.size(); ++i) {
    const auto& swap = *c.swaptions()[i]->swaption();
    const double x = swap.expiry_double(), y = swap.tenor_double();
    out.cells[i].off_grid = x < ex.front() - slack || x > ex.back() + slack || y < te.front() - slack ||
                            y > te.back() + slack;
  }
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string padded(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// model - market in bp, one row per expiry, one column per target kind; '*' marks a
// target left out of the fit, '!' one whose market vol lies beyond the vol grid.
void print_fit_table(const hjm_calibration& fit, std::ostream& out) {
  const auto& r = fit.report;
  out << "fit: model - market normal vol (bp), expiry x target\n";
  std::string header = padded("expiry", 7) + " |";
  for (const auto& c : fit.columns) header += padded(c, 10) + " ";
  out << header << '\n' << std::string(header.size(), '-') << '\n';
  std::vector<std::vector<std::string>> grid(fit.rows.size(), std::vector<std::string>(fit.columns.size()));
  bool unfitted = false, beyond = false;
  for (std::size_t i = 0; i < fit.cells.size(); ++i) {
    const auto& cell = fit.cells[i];
    const char mark = cell.off_grid ? '!' : r.targets[i].fitted ? ' ' : '*';
    unfitted = unfitted || !r.targets[i].fitted;
    beyond = beyond || cell.off_grid;
    grid[cell.row][cell.column] = format("%+.2f", r.targets[i].difference_bp()) + mark;
  }
  for (std::size_t j = 0; j < fit.rows.size(); ++j) {
    std::string line = padded(fit.rows[j], 7) + " |";
    for (const auto& cell : grid[j]) line += padded(cell.empty() ? "" : cell, 11);
    out << line << '\n';
  }
  if (unfitted) out << "  * left out of the fit (calibrate_to_all_target_flag is false)\n";
  if (beyond) out << "  ! market vol read beyond the edge of the vol grid\n";
}

void print_parameters(const parameter_markovian_hjm& p, std::ostream& out) {
  const std::size_t n = p.number_of_factors();
  auto block = [&](const char* title, const matrix<double>& q, const std::vector<datetime>& dates, double scale,
                   const char* pattern) {
    out << title << '\n';
    for (std::size_t r = 0; r < q.rows(); ++r) {
      std::string line = "  " + dates[r].to_string() + " |";
      for (std::size_t f = 0; f < n; ++f) line += padded(format(pattern, scale * q(r, f)), 10);
      out << line << '\n';
    }
  };
  out << "parameters by date (one column per factor; a row governs the period ending on its date)\n";
  block("volatilities (bp):", p.volatilities(), p.volatilities_dates(), 1e4, "%.2f");
  block(p.model_type() == parameter_markovian_hjm_type::mean_reversion ? "mean reversions:" : "decay factors:",
        p.decays(), p.decays_dates(), 1.0, "%.5f");
  if (n > 1) {
    out << "correlation:\n";
    for (std::size_t i = 0; i < n; ++i) {
      std::string line = "  ";
      for (std::size_t j = 0; j < n; ++j) line += padded(format("%.4f", p.correlation()(i, j)), 9);
      out << line << '\n';
    }
  }
}

void print_warnings(const hjm_calibration& fit, std::ostream& out) {
  std::string beyond;
  std::size_t count = 0;
  for (std::size_t i = 0; i < fit.cells.size(); ++i)
    if (fit.cells[i].off_grid) {
      beyond += (count++ ? ", " : "") + fit.label(i);
    }
  if (count > 0)
    out << "warning: " << count << " target" << (count > 1 ? "s lie" : " lies")
        << " beyond the market's vol grid, priced against its edge values: " << beyond << '\n';
  const auto& hits = fit.report.at_bounds;
  if (!hits.empty()) {
    const auto& p = *fit.parameters;
    std::string list;
    for (std::size_t k = 0; k < hits.size() && k < 6; ++k) {
      const auto& h = hits[k];
      list += (k ? ", " : "") + std::string(h.decay ? "decay " : "volatility ") +
              (h.decay ? p.decays_dates() : p.volatilities_dates())[h.row].to_string() + " factor " +
              std::to_string(h.factor + 1) + (h.upper ? " (upper)" : " (lower)");
    }
    if (hits.size() > 6) list += ", ...";
    out << "warning: " << hits.size() << " parameter" << (hits.size() > 1 ? "s" : "")
        << " on a bound (widen the bounds in the settings): " << list << '\n';
  }
}

// A starting parameter file must fit this calibration's grids and bounds; said with
// its file and JSON path rather than as the library's size check.
void check_initial(const parameter_markovian_hjm& p, const std::string& file, const calibration_ir_hjm& c,
                   const calibration_hjm_settings& s) {
  const std::string where = (file.empty() ? std::string("initial parameters") : file) + ": $.root.";
  const std::size_t n = s.number_of_factors();
  if (p.number_of_factors() != n)
    throw input_error(where + "decays.columns: expected " + std::to_string(n) + ", one per factor of the settings, got " +
                      std::to_string(p.number_of_factors()));
  auto rows = [&](const char* block, std::size_t got, std::size_t expected, const char* dates) {
    if (got != expected)
      throw input_error(where + block + ".rows: expected " + std::to_string(expected) + ", one per " + dates +
                        " of this calibration, got " + std::to_string(got) +
                        " (parameters calibrated to another target grid?)");
  };
  rows("decays", p.decays().rows(), c.maturity_dates().size(), "decay date (distinct target end)");
  rows("volatilities", p.volatilities().rows(), c.expiry_dates().size(), "volatility date (distinct target expiry)");
  auto inside = [&](const char* block, const matrix<double>& q, const std::vector<double>& b, const char* what) {
    const double lo = std::min(b[0], b[1]), hi = std::max(b[0], b[1]);
    for (std::size_t r = 0; r < q.rows(); ++r)
      for (std::size_t f = 0; f < q.columns(); ++f)
        if (!(q(r, f) > lo && q(r, f) < hi))
          throw input_error(where + block + ".data[" + std::to_string(f) + "][" + std::to_string(r) + "]: expected a " +
                            what + " strictly inside the settings' bounds " + format("[%g, ", lo) + format("%g]", hi) +
                            format(", got %g", q(r, f)));
  };
  inside("decays", p.decays(), s.decay_bounds(), "decay");
  inside("volatilities", p.volatilities(), s.volatility_bounds(), "volatility");
}

}  // namespace

std::string hjm_calibration::label(std::size_t i) const {
  return rows[cells[i].row] + " x " + columns[cells[i].column];
}

std::shared_ptr<const calibration_ir_targets_configuration> read_targets(const std::string& file) {
  return read_library_file<calibration_ir_targets_configuration>(file, "calibration targets");
}

std::shared_ptr<const calibration_hjm_settings> read_settings(const std::string& file) {
  return read_library_file<calibration_hjm_settings>(file, "HJM calibration settings");
}

matrix<double> read_correlation(const std::string& file) {
  return read_correlation_matrix(json_node::load(file).at("correlation"));
}

hjm_calibration calibrate_hjm(const market& m, const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                              const std::shared_ptr<const calibration_hjm_settings>& settings,
                              const matrix<double>& correlation,
                              const std::shared_ptr<const parameter_markovian_hjm>& initial, std::ostream& report,
                              const std::string& initial_file, const std::string& settings_file) {
  if (correlation.rows() != settings->number_of_factors())
    throw input_error("the correlation has " + std::to_string(correlation.rows()) + " factors but the settings ask for " +
                      std::to_string(settings->number_of_factors()));
  const calibration_ir_hjm calibration(m.valuation_date, m.curve, targets, m.day_count);
  if (calibration.swaptions().empty()) throw input_error("the targets file selects no calibration instrument");
  const auto& s = *settings;
  if (initial) check_initial(*initial, initial_file, calibration, s);

  hjm_calibration out;
  label_targets(out, calibration, m, *targets);
  // What the library would refuse in inputs the readers passed is still an input's
  // fault, and exits 2 naming it: the curve when a target has no swap rate on it (its
  // discount factors underflow to zero), the settings' bounds when the optimiser, from
  // a start inside them and market vols the reader bounds, reaches prices that are not
  // finite.
  for (std::size_t i = 0; i < out.cells.size(); ++i)
    if (!std::isfinite(calibration.swaptions()[i]->swap_rate()))
      throw input_error(m.file + ": $.curve: the target " + out.label(i) +
                        " has no finite swap rate on this curve (discount factors that underflow to zero?)");
  {
    // The library's log lines are held back until the indicator has cleared its line.
    std::ostringstream library_log, stages;
    try {
      const activity_indicator running("calibrate hjm");
      const report_to redirect(library_log);
      const auto final_settings = with_penalty(s, s.regularization_flag(), s.regularization_factor());
      auto stage = [&](const char* name, const std::shared_ptr<const calibration_hjm_settings>& settings_used,
                       const matrix<double>& rho, const std::shared_ptr<const parameter_markovian_hjm>& start) {
        calibration_ir_hjm_report r;
        auto p = calibration.calibrate(m.surface, rho, settings_used, {}, start, r);
        stages << "Levenberg-Marquardt, " << name << ": " << to_string(r.optimiser.termination) << " after "
               << r.optimiser.iterations << " iterations; RMS " << format("%.4f", r.rms_bp) << " bp, worst "
               << format("%.4f", r.worst_bp) << " bp\n";
        return std::make_pair(std::move(p), std::move(r));
      };
      std::pair<std::shared_ptr<const parameter_markovian_hjm>, calibration_ir_hjm_report> best;
      if (initial) {
        best = stage("from the given start", final_settings, correlation, initial);
      } else {
        // Constant parameters first: they are few and well determined by any grid, and
        // from them every dated row starts where it fits on average.
        const auto tied =
            stage("rows tied", with_penalty(s, true, tied_rows), correlation, own_start(calibration, m, correlation, s));
        best = stage("rows free", final_settings, tied.first->correlation(), inside_bounds(*tied.first, s));
        if (tied.second.rms_bp < best.second.rms_bp) best = tied;
      }
      // An entry pushed onto its bound drives its unknown (an artanh) towards infinity,
      // after which every step looks negligible beside it and the optimiser stops. A
      // fresh start just inside the bounds frees the others again; keep going while it helps.
      for (int restart = 1; restart <= 4 && !best.second.at_bounds.empty() && best.second.rms_bp > 1e-4; ++restart) {
        auto next = stage(("restart " + std::to_string(restart)).c_str(), final_settings, best.first->correlation(),
                          inside_bounds(*best.first, s));
        const bool better = next.second.rms_bp < 0.99 * best.second.rms_bp;
        if (next.second.rms_bp < best.second.rms_bp) best = std::move(next);
        if (!better) break;
      }
      out.parameters = best.first;
      out.report = std::move(best.second);
    } catch (const Error& e) {
      throw input_error((settings_file.empty() ? std::string("HJM calibration settings") : settings_file) +
                        ": $.root: the calibration fails within these volatility and decay bounds" +
                        (initial_file.empty() ? std::string() : " from the start in " + initial_file) + " (" +
                        e.what() + ")");
    }
    report << library_log.str() << stages.str();
  }
  print_fit_table(out, report);
  print_parameters(*out.parameters, report);
  print_warnings(out, report);
  std::size_t fitted = 0;
  for (const auto& t : out.report.targets) fitted += t.fitted ? 1 : 0;
  std::string worst = out.report.worst < out.cells.size() ? " (" + out.label(out.report.worst) + ")" : "";
  char line[200];
  std::snprintf(line, sizeof line, "fit over %zu targets: RMS %.4f bp, worst %.4f bp", fitted, out.report.rms_bp,
                out.report.worst_bp);
  report << line << worst << '\n';
  return out;
}

std::string poor_fit(const hjm_calibration& fit, double max_rms_bp) {
  const auto& r = fit.report;
  if (r.rms_bp <= max_rms_bp) return {};
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < r.targets.size(); ++i)
    if (r.targets[i].fitted) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::fabs(r.targets[a].difference_bp()) > std::fabs(r.targets[b].difference_bp());
  });
  std::string worst;
  for (std::size_t k = 0; k < order.size() && k < 3; ++k)
    worst += (k ? ", " : "") + fit.label(order[k]) + " " + format("%+.2f", r.targets[order[k]].difference_bp()) + " bp";
  return format("poor fit: RMS %.4f bp", r.rms_bp) + format(" is above the limit of %g bp", max_rms_bp) +
         " (worst: " + worst + "; the optimiser stopped on: " + to_string(r.optimiser.termination) + ")";
}

namespace {
const char* calibrate_help =
    "usage: tarvex calibrate hjm --market M.json --targets T.json --settings S.json\n"
    "                            [--correlation C.json] [--initial P.json] -o PARAMS.json\n"
    "                            [--max-rms BP] [--accept-poor-fit]\n"
    "\n"
    "Calibrates a Markovian HJM model at the money to the swaption normal volatilities of\n"
    "the market file and writes the parameters. Prints the optimiser report, the fit\n"
    "table (model - market in bp, one row per expiry, one column per target kind), the\n"
    "parameters by date and warnings (targets beyond the vol grid, parameters on their\n"
    "bounds). Without --initial it fits constant parameters first, then every dated row.\n"
    "\n"
    "  --market           the market file (curve and swaption normal-vol grid)\n"
    "  --targets          calibration_ir_targets_configuration file: which swaptions to fit\n"
    "  --settings         calibration_hjm_settings file: factors, bounds, optimiser\n"
    "  --correlation      {\"correlation\": [[...]]}; default: the identity\n"
    "  --initial          Markovian HJM parameters to start from, on the calibration's date\n"
    "                     grids; default: constant parameters fitted first\n"
    "  -o, --output       where to write the calibrated parameters\n"
    "  --max-rms BP       the worst RMS misfit accepted, in bp (default 1): a worse fit\n"
    "                     exits with status 3 and writes nothing\n"
    "  --accept-poor-fit  write the parameters of a worse fit anyway (status 0, warning)\n";

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
    throw input_error("tarvex calibrate hjm: --max-rms: expected a positive number of bp, got '" + text + "'");
  return v;
}

}  // namespace

int run_calibrate(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << calibrate_help;
    if (args.empty()) throw input_error("tarvex calibrate: name the model ('hjm' or 'bk')");
    return 0;
  }
  if (args[0] == "bk") return run_calibrate_bk(std::vector<std::string>(args.begin() + 1, args.end()));
  if (args[0] == "cheyette") return run_calibrate_cheyette(std::vector<std::string>(args.begin() + 1, args.end()));
  if (args[0] != "hjm") throw input_error("tarvex calibrate: unknown model '" + args[0] + "' ('hjm' or 'bk')");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (auto& a : rest)
    if (a == "-o") a = "--output";
  const command_line cl("calibrate hjm", rest,
                        {"--market", "--targets", "--settings", "--correlation", "--initial", "--output", "--max-rms"},
                        {"--accept-poor-fit"});
  if (cl.help()) {
    std::cout << calibrate_help;
    return 0;
  }
  const std::string output = cl.value("--output");
  const double limit = max_rms(cl);
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
  const std::string initial_file = cl.value_or("--initial", "");
  if (!initial_file.empty()) initial = read_library_file<parameter_markovian_hjm>(initial_file, "Markovian HJM parameters");
  const hjm_calibration result = calibrate_hjm(m, targets, settings, correlation, initial, std::cout, initial_file,
                                                 cl.value("--settings"));
  const std::string complaint = poor_fit(result, limit);
  if (!complaint.empty() && !cl.flag("--accept-poor-fit")) {
    std::cout.flush();
    std::cerr << "tarvex: error: " << complaint << "; nothing written (--accept-poor-fit writes it anyway)\n";
    return 3;
  }
  if (!complaint.empty()) std::cerr << "tarvex: warning: " << complaint << "; written as asked\n";
  parameter_markovian_hjm::write_to_json(file.temporary().string(), result.parameters);
  file.commit();
  std::cout << "parameters written to " << output << '\n';
  return 0;
}

}  // namespace tarvex::app
