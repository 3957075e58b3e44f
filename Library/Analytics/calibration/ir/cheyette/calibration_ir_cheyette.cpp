#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_maps.h"
#include "Analytics/models/model_cheyette.h"
#include "Core/check.h"
#include "Core/logger.h"
#include "Core/string_format.h"
#include "Math/levenberg_marquardt.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

datetime add(const datetime& d, const tenor& t) { return datetime_helper::add_tenor(d, t, 1); }

// A quote within this relative distance of its predecessor repeats it (a flat or
// padded smile row) and carries no information of its own.
constexpr double repeat_tolerance = 0.0001;
// Not fitted: the local volatility's long-term level enters only volatility(), which the
// smile pricing does not use.
constexpr double long_term_skew_level = -5.0;

// The unknowns: the HJM decays and volatilities through the HJM calibration's maps,
// then the skew entries through the same bounded map with the skew bounds.
struct cheyette_maps {
  calibration_ir_hjm_maps hjm;
  double skew_lo, skew_hi;
  std::size_t skews;

  std::size_t hjm_unknowns(const parameter_cheyette& p) const { return hjm.number_of_unknowns(*p.parameters()); }
  std::size_t unknowns(const parameter_cheyette& p) const { return hjm_unknowns(p) + skews; }

  void map_to_R(const parameter_cheyette& p, vector<double>& x) const {
    TARVEX_CHECK_TEXT(x.size() == unknowns(p), "out of range!");
    vector<double> head(hjm_unknowns(p));
    hjm.map_to_R(*p.parameters(), head);
    std::copy_n(head.data(), head.size(), x.data());
    for (std::size_t k = 0; k < skews; ++k)
      x[head.size() + k] = calibration_ir_hjm_maps::to_R(p.skew_parameter().data()[k], skew_lo, skew_hi);
  }

  // Writes the decays and volatilities into the shared HJM set, then the skews.
  void map_from_R(const vector<double>& x, parameter_markovian_hjm& h, parameter_cheyette& p) const {
    TARVEX_CHECK_TEXT(x.size() == unknowns(p), "out of range!");
    vector<double> head(hjm_unknowns(p));
    std::copy_n(x.data(), head.size(), head.data());
    hjm.map_from_R(head, h);
    std::vector<double> state(p.state_parameters_size());
    p.get_state_parameters(state.data());
    for (std::size_t k = 0; k < skews; ++k)
      state[p.skew_parameter_offset() + k] = calibration_ir_hjm_maps::from_R(x[head.size() + k], skew_lo, skew_hi);
    p.set_state_parameters(state.data());
  }
};

void log_fit(const std::vector<std::shared_ptr<const calibration_ir_cheyette_swaption>>& targets,
             const calibration_ir_cheyette_report& report) {
  if (logger::GetCurrentVerbosityCutoff() < 0) return;
  logger::LogF(0, __FILE__, __LINE__, " Calibration results for ir cheyette model:");
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const auto& swap = *targets[i]->swaptions()->swap();
    logger::LogF(0, __FILE__, __LINE__, " %s into %s:", swap.expiry().to_string().c_str(),
                 swap.all_dates().back().to_string().c_str());
    const std::string header = center("strike(%):", 11) + " | " + center("market(bps):", 13) + " | " +
                               center("model(bps):", 12) + " | " + center("diff(bps):", 11) + " | ";
    logger::LogF(0, __FILE__, __LINE__, "%s", header.c_str());
    logger::LogF(0, __FILE__, __LINE__, "%s", std::string(header.size(), '-').c_str());
    const auto& t = report.targets[i];
    for (std::size_t j = 0; j < t.strikes.size(); ++j) {
      const std::string line = to_string(100.0 * t.strikes[j], 11, 4) + " | " + to_string(1e4 * t.market[j], 13, 2) +
                               " | " + to_string(1e4 * t.model[j], 12, 2) + " | " +
                               to_string(1e4 * (t.model[j] - t.market[j]), 11, 4) + " | ";
      logger::LogF(0, __FILE__, __LINE__, "%s", line.c_str());
    }
  }
}

}  // namespace

calibration_ir_cheyette::calibration_ir_cheyette(const datetime& valuation_date,
                                                 const std::shared_ptr<const discount_curve>& curve,
                                                 const std::shared_ptr<const calibration_ir_targets_configuration>& targets,
                                                 const std::shared_ptr<const day_count_convention>& day_count)
    : valuation_date_(valuation_date), day_count_(day_count) {
  const tenor& f = targets->frequency();
  const auto& strikes = targets->strikes();
  auto target = [&](const datetime& s, const datetime& m) {
    const std::size_t k = swaptions_.size();
    TARVEX_CHECK(k < strikes.size(), "strike table has ", strikes.size(), " rows for target ", k);
    swaptions_.push_back(
        std::make_shared<const calibration_ir_cheyette_swaption>(true, curve, s, m, f, day_count, strikes[k], true));
  };
  if (targets->include_caplets())
    for (const auto& e : targets->expiries()) {
      const datetime s = add(valuation_date_, e);
      target(s, add(s, f));
    }
  if (targets->include_coterminal()) {
    const datetime c = add(valuation_date_, targets->coterminal());
    for (const auto& e : targets->expiries()) {
      const datetime s = add(valuation_date_, e);
      if (s < c) target(s, c);
    }
  }
}

std::shared_ptr<const parameter_cheyette> calibration_ir_cheyette::calibrate(
    const std::shared_ptr<const ir_volatility_surface>& surface,
    const std::shared_ptr<const calibration_cheyette_settings>& settings,
    const std::shared_ptr<const parameter_markovian_hjm>& hjm) const {
  calibration_ir_cheyette_report report;
  return calibrate(surface, settings, hjm, report);
}

std::shared_ptr<const parameter_cheyette> calibration_ir_cheyette::calibrate(
    const std::shared_ptr<const ir_volatility_surface>& surface,
    const std::shared_ptr<const calibration_cheyette_settings>& settings,
    const std::shared_ptr<const parameter_markovian_hjm>& hjm, calibration_ir_cheyette_report& report) const {
  TARVEX_CHECK_TEXT(hjm->number_of_factors() == 1, "cheyette calibration supports one factor");
  for (const auto* b : {&settings->decay_bounds(), &settings->volatility_bounds(), &settings->skew_bounds()})
    TARVEX_CHECK(b->size() >= 2, "bounds have ", b->size(), " entries, two are needed");
  const auto& volatility_dates = hjm->volatilities_dates();
  for (const auto& s : swaptions_)
    TARVEX_CHECK(std::find(volatility_dates.begin(), volatility_dates.end(), s->expiry()) != volatility_dates.end(),
                 "target expiry ", s->expiry().to_string(), " is not a volatility date of the hjm parameters");

  // 1. Market smiles and weights.
  const std::size_t targets = swaptions_.size();
  report.targets.assign(targets, {});
  std::vector<std::size_t> offsets(targets);
  std::size_t residuals = 0;
  for (std::size_t i = 0; i < targets; ++i) {
    auto& t = report.targets[i];
    const auto& swap = *swaptions_[i]->swaptions()->swap();
    t.strikes = swaptions_[i]->swaptions()->strikes();
    offsets[i] = residuals;
    residuals += t.strikes.size();
    for (std::size_t j = 0; j < t.strikes.size(); ++j) {
      t.market.push_back(swap.implied_volatility(*surface, t.strikes[j]));
      const bool repeat = j > 0 && std::fabs(t.market[j - 1] / t.market[j] - 1.0) < repeat_tolerance;
      t.weights.push_back(repeat ? 0 : 1);
    }
  }
  // 2. Starting skews from each smile's end-to-end slope: to first order in the skew b
  // the normal vol moves by sigma b / 2 per unit of strike.
  std::vector<double> estimates;
  for (const auto& t : report.targets) {
    int effective = 0;
    for (int w : t.weights) effective += w;
    if (effective <= 1) continue;
    const double first = t.market.front(), last = t.market.back();
    estimates.push_back(2.0 * (first - last) / (first * (t.strikes.front() - t.strikes.back())));
  }
  // One skew row per volatility date at most; with no estimate a zero skew on the first
  // date keeps the model valid and is not fitted.
  const std::size_t skews = std::min(estimates.size(), volatility_dates.size());
  matrix<double> skew(std::max<std::size_t>(skews, 1), 1, 0.0);
  for (std::size_t k = 0; k < skews; ++k) skew(k, 0) = estimates[k];
  const std::vector<datetime> skew_dates(volatility_dates.begin(),
                                         volatility_dates.begin() + static_cast<std::ptrdiff_t>(skew.rows()));
  // 3-4. Parameters sharing the caller's HJM set, and the model on the valuation date and
  // the volatility dates, so that every target expiry is a grid date.
  auto parameters = std::make_shared<parameter_cheyette>(hjm, skew, skew_dates, long_term_skew_level);
  std::vector<datetime> dates{valuation_date_};
  for (const auto& d : volatility_dates)
    if (valuation_date_ < d) dates.push_back(d);
  auto model = std::make_shared<model_cheyette>(*parameters, valuation_date_, dates, true, false);
  const std::shared_ptr<const model_cheyette> view = model;

  // 5. Unknowns.
  const auto& sb = settings->skew_bounds();
  const cheyette_maps maps{calibration_ir_hjm_maps(settings->decay_bounds(), settings->volatility_bounds(), false, 0.0),
                           std::min(sb[0], sb[1]), std::max(sb[0], sb[1]), skews};
  const std::size_t unknowns = maps.unknowns(*parameters);
  vector<double> x0(unknowns);
  maps.map_to_R(*parameters, x0);
  auto& writable_hjm = const_cast<parameter_markovian_hjm&>(*hjm);

  // 6. Levenberg-Marquardt on 1e4 w (market - model), one residual per strike.
  lm_parameters record(residuals, unknowns, settings->max_iterations());
  record.central_differences = false;
  record.good_step_ratio = 0.75;
  record.acceptance_ratio = 0.0;
  record.finite_difference_step = 0.0;
  record.tolerance = settings->tolerance();
  record.initial_damping = 0.01;
  record.minimum_damping_decrease = 0.1;
  record.damping_growth = 2;
  std::vector<double> smile;
  auto evaluate = [&](vector<double>& r) {
    for (std::size_t i = 0; i < targets; ++i) {
      auto& t = report.targets[i];
      smile.clear();
      swaptions_[i]->values(smile, view, model->variance(swaptions_[i]->expiry()));
      t.model = smile;
      if (r.size() == 0) continue;
      for (std::size_t j = 0; j < smile.size(); ++j)
        r[offsets[i] + j] = 1e4 * t.weights[j] * (t.market[j] - smile[j]);
    }
  };
  const levenberg_marquardt::residual_function residual = [&](const vector<double>& x, vector<double>& r) {
    maps.map_from_R(x, writable_hjm, *parameters);
    model->fill();
    evaluate(r);
  };
  const levenberg_marquardt optimiser(record, residual);
  report.optimiser = optimiser(x0);
  // 7. The last residual evaluation was at the solution: parameters and model hold it.
  if (settings->debug()) report.optimiser.print();
  double sum2 = 0.0;
  std::size_t count = 0;
  report.worst_bp = 0.0;
  for (const auto& t : report.targets)
    for (std::size_t j = 0; j < t.model.size(); ++j) {
      if (!t.weights[j]) continue;
      const double d = 1e4 * std::fabs(t.model[j] - t.market[j]);
      sum2 += d * d;
      ++count;
      report.worst_bp = std::max(report.worst_bp, d);
    }
  report.rms_bp = count ? std::sqrt(sum2 / static_cast<double>(count)) : 0.0;
  if (settings->debug()) log_fit(swaptions_, report);
  return parameters;
}

}  // namespace tarvex
