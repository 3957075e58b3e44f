#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_problem.h"
#include "Core/check.h"
#include "Core/error.h"
#include "Core/logger.h"
#include "Core/string_format.h"
#include "Core/parallel_for.h"
#include "Math/cholesky_decomposition.h"
#include "Math/levenberg_marquardt.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

constexpr double eps = 2.220446049250313e-16;

datetime add(const datetime& d, const tenor& t) { return datetime_helper::add_tenor(d, t, 1); }

bool good_correlation(const matrix<double>& c) {
  if (c.rows() != c.columns()) return false;
  for (std::size_t i = 0; i < c.rows(); ++i) {
    if (!(std::fabs(c(i, i) - 1.0) < eps)) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (!(std::fabs(c(i, j) - c(j, i)) < eps) || !(std::fabs(c(i, j)) <= 1.0)) return false;
  }
  return true;
}

bool positive_definite(const matrix<double>& c) {
  matrix<double> l = c;
  return cholesky_decomposition(l.data(), c.rows(), 'L');
}

bool usable_bounds(const std::vector<double>& b) {
  return b.size() >= 2 && std::isfinite(b[0]) && std::isfinite(b[1]) && b[0] != b[1];
}

std::string listed(const std::vector<double>& v) {
  std::string out = "[";
  for (std::size_t i = 0; i < v.size(); ++i) out += details::concat(i ? ", " : "", v[i]);
  return out + "]";
}

// The first entry (row, factor) of a starting block not strictly inside its bounds, or
// rows() when there is none: on a bound the map to the unknowns is infinite, beyond it
// undefined.
std::pair<std::size_t, std::size_t> outside(const matrix<double>& q, double lo, double hi) {
  for (std::size_t r = 0; r < q.rows(); ++r)
    for (std::size_t f = 0; f < q.columns(); ++f)
      if (!(q(r, f) > lo && q(r, f) < hi)) return {r, f};
  return {q.rows(), 0};
}

bool all_finite(const matrix<double>& q) {
  for (std::size_t e = 0; e < q.size(); ++e)
    if (!std::isfinite(q.data()[e])) return false;
  return true;
}

// Entries within a millionth of the interval of a bound: tanh has flattened there.
void bound_hits(const matrix<double>& q, double lo, double hi, bool decay,
                std::vector<calibration_ir_hjm_report::bound_hit>& out) {
  const double near = 1e-6 * (hi - lo);
  for (std::size_t r = 0; r < q.rows(); ++r)
    for (std::size_t f = 0; f < q.columns(); ++f) {
      const double v = q(r, f);
      if (v - lo <= near || hi - v <= near) out.push_back({decay, r, f, v, hi - v <= near});
    }
}

void log_line(const std::string& line) { logger::LogF(0, __FILE__, __LINE__, "%s", line.c_str()); }

// Market, model and difference in basis points per expiry date (rows) and target
// group (columns: caplets, co-terminals, each cms tenor, as the targets were built).
void log_fit(const calibration_ir_hjm& calibration, std::size_t factors, const std::vector<double>& market,
             const std::vector<double>& model) {
  if (logger::GetCurrentVerbosityCutoff() < 0) return;
  logger::LogF(0, __FILE__, __LINE__, " Calibration results for ir %d markovian hjm model:", static_cast<int>(factors));
  const auto& dates = calibration.expiry_dates();
  if (dates.empty()) return;
  const std::size_t groups = market.size() / dates.size(), count = std::min(market.size(), model.size());
  std::string header = center("dates", 11) + " | ";
  for (std::size_t g = 0; g < groups; ++g)
    header += center("market(bps):", 13) + " | " + center("model(bps):", 12) + " | " + center("diff(bps):", 11) + " | ";
  log_line(header);
  log_line(std::string(header.size(), '-'));
  for (std::size_t j = 0; j < dates.size(); ++j) {
    std::string line = center(dates[j].to_string(), 11) + " | ";
    for (std::size_t g = 0; g < groups; ++g) {
      const std::size_t k = g * dates.size() + j;
      if (k >= count) break;
      line += to_string(1e4 * market[k], 13, 2) + " | " + to_string(1e4 * model[k], 12, 2) + " | " +
              to_string(1e4 * std::fabs(market[k] - model[k]), 11, 4) + " | ";
    }
    log_line(line);
  }
}

}  // namespace

calibration_ir_hjm::calibration_ir_hjm(const datetime& valuation_date,
                                       const std::shared_ptr<const discount_curve>& curve,
                                       const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                                       const std::shared_ptr<const day_count_convention>& day_count)
    : valuation_date_(valuation_date), day_count_(day_count) {
  const tenor& f = targets->frequency();
  std::set<datetime> expiries, maturities;
  auto append = [&](const datetime& s, const datetime& m) {
    swaptions_.push_back(std::make_shared<const calibration_ir_hjm_swaption>(curve, s, m, f, day_count_));
    expiries.insert(s);
    maturities.insert(m);
  };
  if (targets->include_caplets())
    for (const tenor& e : targets->expiries()) {
      const datetime s = add(valuation_date_, e);
      append(s, add(s, f));
    }
  if (targets->include_coterminal()) {
    const datetime c = add(valuation_date_, targets->coterminal());
    maturities.insert(c);
    for (const tenor& e : targets->expiries()) {
      const datetime s = add(valuation_date_, e);
      if (s < c) append(s, c);
    }
  }
  if (targets->include_cms())
    for (const tenor& t : targets->cms_tenors())
      for (const tenor& e : targets->expiries()) {
        const datetime s = add(valuation_date_, e);
        append(s, add(s, t));
      }
  expiry_dates_.assign(expiries.begin(), expiries.end());
  maturity_dates_.assign(maturities.begin(), maturities.end());
}

std::shared_ptr<const parameter_markovian_hjm> calibration_ir_hjm::calibrate(
    const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
    const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
    const std::shared_ptr<const parameter_markovian_hjm>& initial) const {
  // Without a caller for it, the report's pricing of every target is skipped.
  calibration_ir_hjm_report report;
  return calibrate(surface, correlation, settings, strikes, initial, report, false);
}

std::shared_ptr<const parameter_markovian_hjm> calibration_ir_hjm::calibrate(
    const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
    const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
    const std::shared_ptr<const parameter_markovian_hjm>& initial, calibration_ir_hjm_report& report) const {
  return calibrate(surface, correlation, settings, strikes, initial, report, true);
}

std::shared_ptr<const parameter_markovian_hjm> calibration_ir_hjm::calibrate(
    const std::shared_ptr<const ir_volatility_surface>& surface, const matrix<double>& correlation,
    const std::shared_ptr<const calibration_hjm_settings>& settings, const std::vector<double>& strikes,
    const std::shared_ptr<const parameter_markovian_hjm>& initial, calibration_ir_hjm_report& report,
    bool fit_report) const {
  TARVEX_CHECK_TEXT(strikes.empty() || strikes.size() >= swaptions_.size(),
                    "strike has different size than swaptions!");
  TARVEX_CHECK_TEXT(good_correlation(correlation), "correlation matrix is bad!");
  TARVEX_CHECK_TEXT(correlation.rows() == settings->number_of_factors(),
                    "Number of factors is inconsistent for the calibration!");
  // Unit diagonal and entries in [-1, 1] still allow a singular or indefinite matrix,
  // under which the covariances are meaningless and the fit runs into the bounds.
  TARVEX_CHECK_TEXT(positive_definite(correlation), "correlation matrix is not positive definite!");
  for (const auto* bounds : {&settings->decay_bounds(), &settings->volatility_bounds()})
    TARVEX_CHECK_TEXT(usable_bounds(*bounds), bounds == &settings->decay_bounds() ? "decay" : "volatility",
                      " bounds must be two different finite numbers, got ", listed(*bounds));
  if (initial) {
    const std::size_t n = correlation.rows();
    TARVEX_CHECK_TEXT(initial->number_of_factors() == n, "initial parameters have ", initial->number_of_factors(),
                      " factors, the correlation ", n);
    TARVEX_CHECK_TEXT(initial->decays().rows() == maturity_dates_.size(), "initial parameters have ",
                      initial->decays().rows(), " decay rows, the calibration ", maturity_dates_.size(),
                      " decay dates (the distinct target ends)");
    TARVEX_CHECK_TEXT(initial->volatilities().rows() == expiry_dates_.size(), "initial parameters have ",
                      initial->volatilities().rows(), " volatility rows, the calibration ", expiry_dates_.size(),
                      " volatility dates (the distinct target expiries)");
    for (const bool decay : {true, false}) {
      const auto& b = decay ? settings->decay_bounds() : settings->volatility_bounds();
      const matrix<double>& q = decay ? initial->decays() : initial->volatilities();
      const double lo = std::min(b[0], b[1]), hi = std::max(b[0], b[1]);
      const auto [r, f] = outside(q, lo, hi);
      const char* what = decay ? "decay" : "volatility";
      TARVEX_CHECK_TEXT(r == q.rows(), "initial ", what, " ", q(r, f), " (row ", r, ", factor ", f,
                        ") is not strictly inside the ", what, " bounds [", lo, ", ", hi, "]");
    }
  }

  calibration_ir_hjm_problem problem(*this, *surface, correlation, *settings, strikes, initial);
  const std::size_t unknowns = problem.number_of_unknowns();
  lm_parameters record(problem.number_of_residuals(), unknowns, settings->max_iterations());
  record.central_differences = false;
  record.good_step_ratio = 0.75;
  record.acceptance_ratio = 0.0;
  record.finite_difference_step = 0.0;
  record.tolerance = settings->tolerance();
  record.initial_damping = 0.01;
  record.minimum_damping_decrease = 0.1;
  record.damping_growth = 2;

  levenberg_marquardt::residual_function residuals = [&](const vector<double>& x, vector<double>& r) {
    problem.residuals(x, r);
  };
  levenberg_marquardt::jacobian_function jacobian;
  if (settings->jacobian_with_aad_flag())
    jacobian = [&](const vector<double>& x, matrix<double>& j) { problem.jacobian(x, j); };
  // A residual that is not finite at the start (a market vol the surface cannot give,
  // a start whose price overflows) would make every step look equally bad: the optimiser
  // would stop at once and hand back its start as a fit.
  const vector<double> start = problem.initial_point();
  {
    vector<double> r(problem.number_of_residuals());
    problem.residuals(start, r);
    for (std::size_t i = 0; i < r.size(); ++i)
      TARVEX_CHECK_TEXT(std::isfinite(r[i]), "residual ", i, " is not finite at the starting point (market vol ",
                        i < problem.market_volatilities().size() ? problem.market_volatilities()[i] : 0.0, ")");
  }
  const levenberg_marquardt optimiser(record, residuals, jacobian);
  report.optimiser = optimiser(start);
  if (settings->debug()) report.optimiser.print();
  // The optimiser's last residual evaluation was at its solution, so the working
  // parameter set already holds the result.
  if (settings->debug())
    log_fit(*this, correlation.rows(), problem.market_volatilities(), problem.model_volatilities());
  const auto& p = *problem.parameters();
  TARVEX_CHECK_TEXT(all_finite(p.decays()) && all_finite(p.volatilities()) && all_finite(p.correlation()),
                    "calibration ended with non-finite parameters (the optimiser stopped on: ",
                    to_string(report.optimiser.termination), ")");
  if (fit_report) fill_report(problem, report);
  return problem.parameters();
}

void calibration_ir_hjm::fill_report(const calibration_ir_hjm_problem& problem, calibration_ir_hjm_report& report) const {
  const std::size_t count = swaptions_.size();
  report.targets.assign(count, {});
  // Every target afresh, each search from its own start and run to convergence, so the
  // figures do not depend on the roots the optimiser left behind.
  const model_markovian_hjm& model = problem.model();
  smp_tools_api::GetInstance().parallel_for(0, count, 1, [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      auto& t = report.targets[i];
      t.strike = problem.strikes()[i];
      t.market = problem.market_volatilities()[i];
      t.fitted = i < problem.number_of_targets();
      vector<double> root(model.number_of_factors());
      swaptions_[i]->initial_root(root, t.strike, model);
      t.model = swaptions_[i]->implied_volatility(t.strike, model, root, 50, 1e-12);
    }
  });
  double sum2 = 0.0;
  std::size_t fitted = 0;
  report.worst = count;
  report.worst_bp = report.rms_bp = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!report.targets[i].fitted) continue;
    const double d = std::fabs(report.targets[i].difference_bp());
    sum2 += d * d;
    ++fitted;
    if (report.worst == count || d > report.worst_bp) {
      report.worst = i;
      report.worst_bp = d;
    }
  }
  if (fitted > 0) report.rms_bp = std::sqrt(sum2 / static_cast<double>(fitted));
  const auto& maps = problem.maps();
  const auto& p = *problem.parameters();
  report.at_bounds.clear();
  bound_hits(p.decays(), maps.decay_lower(), maps.decay_upper(), true, report.at_bounds);
  bound_hits(p.volatilities(), maps.volatility_lower(), maps.volatility_upper(), false, report.at_bounds);
}

double calibration_ir_hjm::cms_spread_pricing_experimental(const datetime&, const datetime&,
                                                           const std::shared_ptr<const parameter_markovian_hjm>&,
                                                           const std::shared_ptr<const discount_curve>&, bool) {
  throw NotImplementedError({"cms_spread_pricing_experimental", details::source_path(__FILE__), __LINE__},
                            "cms_spread_pricing_experimental function not implemented!");
}

}  // namespace tarvex
