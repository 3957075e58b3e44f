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
  TARVEX_CHECK_TEXT(strikes.empty() || strikes.size() >= swaptions_.size(),
                    "strike has different size than swaptions!");
  TARVEX_CHECK_TEXT(good_correlation(correlation), "correlation matrix is bad!");
  TARVEX_CHECK_TEXT(correlation.rows() == settings->number_of_factors(),
                    "Number of factors is inconsistent for the calibration!");

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
  const levenberg_marquardt optimiser(record, residuals, jacobian);
  optimization_algorithm_output output(unknowns);
  output = optimiser(problem.initial_point());
  if (settings->debug()) output.print();
  // The optimiser's last residual evaluation was at its solution, so the working
  // parameter set already holds the result.
  if (settings->debug())
    log_fit(*this, correlation.rows(), problem.market_volatilities(), problem.model_volatilities());
  return problem.parameters();
}

double calibration_ir_hjm::cms_spread_pricing_experimental(const datetime&, const datetime&,
                                                           const std::shared_ptr<const parameter_markovian_hjm>&,
                                                           const std::shared_ptr<const discount_curve>&, bool) {
  throw NotImplementedError({"cms_spread_pricing_experimental", details::source_path(__FILE__), __LINE__},
                            "cms_spread_pricing_experimental function not implemented!");
}

}  // namespace tarvex
