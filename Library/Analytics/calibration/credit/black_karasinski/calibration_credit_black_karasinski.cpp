#include "Analytics/calibration/credit/black_karasinski/calibration_credit_black_karasinski.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>

#include "Analytics/calibration/calibration_black_karasinski_settings.h"
#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Analytics/pde/black_karasinski_pde_solver.h"
#include "Core/check.h"
#include "Core/logger.h"
#include "Market/discount_curve.h"
#include "Market/survival_curve.h"
#include "Math/root_finding_algorithms.h"

namespace tarvex {
namespace {

// Today's discount factors read as survival probabilities: the short rate plays the
// intensity, so the same bootstrap fits a rate model to the curve.
class discount_as_survival final : public survival_curve {
 public:
  explicit discount_as_survival(std::shared_ptr<const discount_curve> curve)
      : survival_curve(curve->valuation_date()), curve_(std::move(curve)) {}
  using survival_curve::log_survival_probability;
  double log_survival_probability(const datetime& t, const datetime& T) const override {
    return curve_->log_df(t, T);
  }

 private:
  std::shared_ptr<const discount_curve> curve_;
};

// Writes `levels` into the level block of p's state parameters.
void write_levels(parameter_black_karasinski& p, const std::vector<double>& levels) {
  std::vector<double> state(p.state_parameters_size());
  p.get_state_parameters(state.data());
  std::copy(levels.begin(), levels.end(), state.begin() + static_cast<std::ptrdiff_t>(p.levels_offset()));
  p.set_state_parameters(state.data());
}

std::string printed(const std::vector<double>& values) {
  std::string out = "[";
  char buffer[32];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%.17g", values[i]);
    out += (i ? ", " : "") + std::string(buffer);
  }
  return out + "]";
}

// The level where |q - model| < tolerance, by a secant on
//   phi(l) = ln(ln q_prev - ln Q(l)) - ln(ln q_prev - ln q),
// nearly linear with unit slope in the level l (the interval's integrated intensity is
// about proportional to exp(l)): from the level already tried (`first`, whose model
// value `first_q` the caller has), or else from `start`, a unit-slope step and then
// secant steps, usually three solves where Brent's bracketing takes ten. Accepts a root
// inside [lower, upper] only, by the same test as Brent's; false sends the caller to
// Brent.
bool secant_on_log_hazard(const std::function<double(double)>& f, const double& model_q, double q, double q_prev,
                          double lower, double upper, double first, double first_q, double start, double tolerance,
                          double& root) {
  if (!(q < q_prev && q > 0.0)) return false;
  const double target = std::log(std::log(q_prev) - std::log(q));
  const auto phi_of = [&](double value) {
    const double gap = std::log(q_prev) - std::log(value);
    return gap > 0.0 && value > 0.0 ? std::log(gap) - target : std::numeric_limits<double>::quiet_NaN();
  };
  double l0 = first, p0 = phi_of(first_q);
  if (!std::isfinite(l0) || !std::isfinite(p0)) {
    if (!std::isfinite(start)) return false;
    l0 = std::clamp(start, lower, upper);
    if (std::fabs(f(l0)) < tolerance) return root = l0, true;
    p0 = phi_of(model_q);
  }
  double l1 = l0 - p0;
  for (int iteration = 0; iteration < 12 && std::isfinite(l1) && l1 >= lower && l1 <= upper; ++iteration) {
    if (std::fabs(f(l1)) < tolerance) return root = l1, true;
    const double p1 = phi_of(model_q);
    if (!std::isfinite(p1) || p1 == p0) return false;
    const double next = l1 - p1 * (l1 - l0) / (p1 - p0);
    l0 = l1;
    p0 = p1;
    l1 = next;
  }
  return false;
}

}  // namespace

calibration_credit_black_karasinski::calibration_credit_black_karasinski(
    const datetime& valuation_date, const std::shared_ptr<const survival_curve>& curve,
    const std::shared_ptr<const calibration_black_karasinski_settings>& settings,
    const std::shared_ptr<const parameter_markovian_hjm>& ir_parameters, const matrix<double>& correlation)
    : valuation_date_(valuation_date),
      survival_curve_(curve),
      settings_(settings),
      ir_parameters_(ir_parameters),
      correlation_credit_ir_(correlation) {}

std::vector<double> calibration_credit_black_karasinski::drift_adjustment(const std::vector<datetime>& grid,
                                                                          const std::vector<double>& credit_sv,
                                                                          const datetime& T) const {
  std::vector<double> shifts(grid.size(), 0.0);
  if (!ir_parameters_ || !settings_->use_adjustement()) return shifts;
  const std::size_t n = ir_parameters_->number_of_factors();
  const model_markovian_hjm rates(*ir_parameters_, valuation_date_, grid, false, std::vector<datetime>{});
  vector<double> end(n), left(n), right(n);
  rates.integral_decay(T, end);
  const auto& S = rates.incremental_volatility_sv();
  double shift = 0.0;
  rates.integral_decay(grid.front(), left);
  for (std::size_t i = 1; i < grid.size(); ++i) {
    rates.integral_decay(grid[i], right);
    double drift = 0.0;
    for (std::size_t f = 0; f < n; ++f)
      drift += correlation_credit_ir_.data()[f] * S(i, f) * (end[f] - 0.5 * (left[f] + right[f]));
    shift -= credit_sv[i] * drift;
    shifts[i] = shift;
    std::swap(left, right);
  }
  return shifts;
}

void calibration_credit_black_karasinski::calibrate_level(parameter_black_karasinski& p) const {
  const auto& settings = *settings_;
  const auto& dates = p.levels_parameter_dates();
  const std::size_t N = dates.size();
  std::vector<double> levels = p.levels_parameter();
  double lower = settings.level_lower_bound(), upper = settings.level_upper_bound();
  black_karasinski_pde_solver solver(valuation_date_, levels, p, dates, settings);
  const model_black_karasinski model(p, valuation_date_, solver.time_grid(), true);
  solver.update(model);
  const auto& grid = solver.time_grid();
  std::vector<double> credit_sv(grid.size());
  for (std::size_t i = 0; i < grid.size(); ++i) credit_sv[i] = model.hjm_model().incremental_volatility_sv()(i, 0);
  const bool adjust = ir_parameters_ && settings.use_adjustement();
  if (adjust) {
    TARVEX_CHECK(ir_parameters_->number_of_factors() == correlation_credit_ir_.size(),
                 "correlation matrix has the wron size: expected", ir_parameters_->number_of_factors(), " given",
                 correlation_credit_ir_.size());
  }

  std::size_t k0 = 0;
  while (k0 < N && !(valuation_date_ < dates[k0])) ++k0;
  double prev_root = std::numeric_limits<double>::quiet_NaN(), q_prev = 1.0;
  for (std::size_t k = k0; k < N; ++k) {
    const double q = survival_curve_->survival_probability(valuation_date_, dates[k]);
    solver.update_states(std::sqrt(model.variance(dates[k])));
    solver.update(adjust ? drift_adjustment(grid, credit_sv, dates[k]) : std::vector<double>{});
    const double checked = solver.survival_probability(k, true);
    if (std::fabs(q - checked) < settings.tolerance()) {
      q_prev = q;
      continue;
    }
    if (!std::isnan(prev_root) && settings.update_bounds()) {
      const double d = std::max(0.5 * std::fabs(prev_root), std::fabs(std::log(-std::log(q / q_prev)) - prev_root));
      lower = prev_root - d;
      upper = prev_root + d;
    }
    double model_q = 0.0;
    const auto f = [&](double level) {
      levels[k - 1] = level;
      model_q = solver.survival_probability(k, true);
      return q - model_q;
    };
    double root = prev_root;
    // The first pillar starts from its average hazard as if it were a year away.
    const double start = std::isnan(prev_root) ? std::log(-std::log(q)) : prev_root;
    bool found = secant_on_log_hazard(f, model_q, q, q_prev, lower, upper, levels[k - 1], checked, start,
                                      settings.tolerance(), root);
    if (!found)
      found = root_finding_algorithms::brent(f, lower, upper, root, 0.0, settings.tolerance(), 2.220446049250313e-16, 50);
    else
      levels[k - 1] = root;
    prev_root = root;
    if (!found) {
      // The levels fixed so far stay written, the failed one as it was.
      levels[k - 1] = p.levels_parameter()[k - 1];
      write_levels(p, levels);
      TARVEX_FAIL(" black karasinski model not calibrated.");
    }
    q_prev = q;
  }
  if (N >= 2) levels[N - 1] = levels[N - 2];
  write_levels(p, levels);
  if (settings.debug() && logger::GetCurrentVerbosityCutoff() >= 0)
    logger::Log(0, __FILE__, __LINE__, "Calibrated credit levels: " + printed(levels));
}

void calibration_credit_black_karasinski::calibrate_discount_level(
    const datetime& valuation_date, const std::shared_ptr<const discount_curve>& curve,
    const std::shared_ptr<const calibration_black_karasinski_settings>& settings, parameter_black_karasinski& p) {
  const calibration_credit_black_karasinski bootstrap(valuation_date, std::make_shared<const discount_as_survival>(curve),
                                                      settings, nullptr, matrix<double>());
  bootstrap.calibrate_level(p);
}

}  // namespace tarvex
