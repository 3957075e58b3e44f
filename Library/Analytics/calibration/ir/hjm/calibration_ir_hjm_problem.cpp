#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_problem.h"

#include <algorithm>

#include "Core/parallel_for.h"

namespace tarvex {
namespace {

// Residuals are in hundredths of a basis point of normal volatility, which puts a good
// fit's cost far above the optimiser's tolerances on rounding noise.
constexpr double residual_scale = 1e6;
// Each boundary search starts at the previous root, so few iterations suffice.
constexpr std::uint64_t root_iterations = 20;
constexpr double root_tolerance = 1e-10;

std::shared_ptr<parameter_markovian_hjm> starting_parameters(
    const calibration_ir_hjm& calibration, const matrix<double>& correlation, const calibration_hjm_settings& settings,
    const std::vector<double>& market, const std::shared_ptr<const parameter_markovian_hjm>& initial) {
  const auto& maturities = calibration.maturity_dates();
  const auto& expiries = calibration.expiry_dates();
  if (initial)
    return std::make_shared<parameter_markovian_hjm>(initial->decays(), initial->volatilities(), correlation,
                                                     maturities, expiries, calibration.day_count(), settings.type());
  const std::size_t n = correlation.rows();
  const auto& bounds = settings.decay_bounds();
  const matrix<double> decays(maturities.size(), n, 0.5 * (bounds[0] + bounds[1]));
  // Row j starts at the market volatility of target j: with caplets first this is the
  // caplet of expiry j, a fair guess for the short rate's normal volatility. A quote
  // outside the volatility bounds starts just inside them, where the map is finite.
  const double lo = std::min(settings.volatility_bounds()[0], settings.volatility_bounds()[1]);
  const double hi = std::max(settings.volatility_bounds()[0], settings.volatility_bounds()[1]);
  const double margin = 1e-3 * (hi - lo);
  matrix<double> volatilities(expiries.size(), n);
  for (std::size_t j = 0; j < expiries.size(); ++j)
    for (std::size_t f = 0; f < n; ++f)
      volatilities(j, f) = std::clamp(j < market.size() ? market[j] : 0.5 * (lo + hi), lo + margin, hi - margin);
  return std::make_shared<parameter_markovian_hjm>(decays, volatilities, correlation, maturities, expiries,
                                                   calibration.day_count(), settings.type());
}

}  // namespace

calibration_ir_hjm_problem::calibration_ir_hjm_problem(const calibration_ir_hjm& calibration,
                                                       const ir_volatility_surface& surface,
                                                       const matrix<double>& correlation,
                                                       const calibration_hjm_settings& settings,
                                                       const std::vector<double>& strikes,
                                                       const std::shared_ptr<const parameter_markovian_hjm>& initial)
    : calibration_(calibration),
      maps_(settings.decay_bounds(), settings.volatility_bounds(), settings.calibrate_correlation_flag(),
            settings.regularization_factor()) {
  const auto& targets = calibration_.swaptions();
  strikes_.resize(targets.size());
  market_.resize(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    strikes_[i] = strikes.empty() ? targets[i]->swap_rate() : strikes[i];
    market_[i] = targets[i]->swaption()->implied_volatility(surface, strikes_[i]);
  }
  parameters_ = starting_parameters(calibration_, correlation, settings, market_, initial);
  model_ = std::make_unique<model_markovian_hjm>(*parameters_, calibration_.valuation_date(), std::vector<datetime>{},
                                                 true, std::vector<datetime>{});
  unknowns_ = maps_.number_of_unknowns(*parameters_);
  targets_ = settings.calibrate_to_all_target_flag() ? targets.size() : std::min(unknowns_, targets.size());
  regularizations_ =
      settings.regularization_flag() ? calibration_ir_hjm_maps::number_of_regularizations(*parameters_) : 0;
  const std::size_t n = parameters_->number_of_factors();
  roots_ = matrix<double>(targets_, n);
  model_volatilities_.assign(targets_, 0.0);
  for (std::size_t i = 0; i < targets_; ++i) {
    vector<double> root = roots_.row(i);
    targets[i]->initial_root(root, strikes_[i], *model_);
  }
}

vector<double> calibration_ir_hjm_problem::initial_point() const {
  vector<double> x(unknowns_);
  maps_.map_to_R(*parameters_, x);
  return x;
}

void calibration_ir_hjm_problem::update(const vector<double>& x) {
  maps_.map_from_R(x, *parameters_);
  model_->refresh();
}

std::size_t calibration_ir_hjm_problem::grain() const {
  const std::size_t threads = std::max<std::size_t>(1, smp_tools_api::GetInstance().GetNumberOfThreads());
  return std::max<std::size_t>(1, targets_ / (4 * threads));
}

void calibration_ir_hjm_problem::residuals(const vector<double>& x, vector<double>& r) {
  update(x);
  const auto& targets = calibration_.swaptions();
  const model_markovian_hjm& model = *model_;
  // Each task writes only its own residual, model volatility and root row.
  smp_tools_api::GetInstance().parallel_for(0, targets_, grain(), [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      vector<double> root = roots_.row(i);
      const double sigma = targets[i]->implied_volatility(strikes_[i], model, root, root_iterations, root_tolerance);
      model_volatilities_[i] = sigma;
      r[i] = (market_[i] - sigma) * residual_scale;
    }
  });
  if (regularizations_ > 0) maps_.tikhonov_regularization(*parameters_, r, targets_);
}

void calibration_ir_hjm_problem::jacobian(const vector<double>& x, matrix<double>& j) {
  update(x);
  if (regularizations_ > 0) maps_.tikhonov_regularization_aad(x, *parameters_, j, targets_);
  const auto& targets = calibration_.swaptions();
  const model_markovian_hjm& model = *model_;
  const parameter_markovian_hjm& p = *parameters_;
  const std::size_t state = model.state_parameters_size();
  calibration_ir_hjm_maps::chain chain;
  maps_.prepare_aad(x, p, chain);
  smp_tools_api::GetInstance().parallel_for(0, targets_, grain(), [&](std::size_t first, std::size_t last) {
    // The task's own adjoint buffer: the parameter set's entries, then the model's.
    std::vector<double> gradient(state);
    for (std::size_t i = first; i < last; ++i) {
      std::fill(gradient.begin(), gradient.end(), 0.0);
      vector<double> root = roots_.row(i);
      targets[i]->implied_volatility_aad(strikes_[i], model, root, root_iterations, root_tolerance, -residual_scale,
                                         gradient.data());
      model.fill_aad(gradient.data());
      vector<double> row = j.row(i);
      maps_.map_from_R_aad(chain, p, gradient.data(), row);
    }
  });
}

}  // namespace tarvex
