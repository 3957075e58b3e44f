#pragma once
// Internal to the HJM calibration (and its tests): the working state of one calibrate
// call and its residual and Jacobian functions.
#include <cstddef>
#include <memory>
#include <vector>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_maps.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Market/ir_volatility_surface.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

// The least-squares problem of one calibration: market quotes, the working parameter
// set and its analytic model, one exercise-boundary root per target that persists
// across evaluations, and the maps between parameters and unknowns. Not thread-safe:
// residuals() and jacobian() mutate the parameters and model on the calling thread
// before pricing the targets in parallel. Expects the inputs calibrate() has checked.
class calibration_ir_hjm_problem {
 public:
  calibration_ir_hjm_problem(const calibration_ir_hjm& calibration, const ir_volatility_surface& surface,
                             const matrix<double>& correlation, const calibration_hjm_settings& settings,
                             const std::vector<double>& strikes,
                             const std::shared_ptr<const parameter_markovian_hjm>& initial);
  calibration_ir_hjm_problem(const calibration_ir_hjm_problem&) = delete;
  calibration_ir_hjm_problem& operator=(const calibration_ir_hjm_problem&) = delete;

  // M: the targets that enter the fit (the first M in construction order).
  std::size_t number_of_targets() const noexcept { return targets_; }
  // R: Tikhonov residuals after the target residuals (0 without regularisation).
  std::size_t number_of_regularizations() const noexcept { return regularizations_; }
  std::size_t number_of_residuals() const noexcept { return targets_ + regularizations_; }
  // N.
  std::size_t number_of_unknowns() const noexcept { return unknowns_; }

  // The unknowns of the starting parameters.
  vector<double> initial_point() const;
  // r_i = (sigma_mkt_i - sigma_mod_i) 1e6 for i < M, then the Tikhonov residuals; the
  // parameters and model are left at x.
  void residuals(const vector<double>& x, vector<double>& r);
  // dr/dx ((M + R) x N, row-major) by adjoints: one sweep per target.
  void jacobian(const vector<double>& x, matrix<double>& j);

  const std::shared_ptr<parameter_markovian_hjm>& parameters() const noexcept { return parameters_; }
  const model_markovian_hjm& model() const noexcept { return *model_; }
  const calibration_ir_hjm_maps& maps() const noexcept { return maps_; }
  // Strike of every target.
  const std::vector<double>& strikes() const noexcept { return strikes_; }
  // Market normal volatility of every target.
  const std::vector<double>& market_volatilities() const noexcept { return market_; }
  // Model volatility of the first M targets from the last residual evaluation.
  const std::vector<double>& model_volatilities() const noexcept { return model_volatilities_; }
  const matrix<double>& roots() const noexcept { return roots_; }

 private:
  // map_from_R and the model's dated quantities, on the calling thread.
  void update(const vector<double>& x);
  std::size_t grain() const;

  const calibration_ir_hjm& calibration_;
  calibration_ir_hjm_maps maps_;
  std::vector<double> strikes_;
  std::vector<double> market_;
  std::shared_ptr<parameter_markovian_hjm> parameters_;
  std::unique_ptr<model_markovian_hjm> model_;
  std::size_t unknowns_ = 0, targets_ = 0, regularizations_ = 0;
  matrix<double> roots_;
  std::vector<double> model_volatilities_;
};

}  // namespace tarvex
