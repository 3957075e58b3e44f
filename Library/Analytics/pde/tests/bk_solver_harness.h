#pragma once
// A Black–Karasinski PDE solver set up as the bootstrap sets it up, for the solver,
// calibration and benchmark code.
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/calibration/calibration_black_karasinski_settings.h"
#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/tests/bk_test_parameters.h"
#include "Analytics/pde/black_karasinski_pde_solver.h"

namespace tarvex::bk_testing {

inline std::shared_ptr<const calibration_black_karasinski_settings> solver_settings(
    bool backward, std::uint64_t nodes, double step_days, double span = 6.0, double tolerance = 1e-12,
    double lower = -12.0, double upper = 2.0, bool update_bounds = true, bool use_adjustement = false) {
  return std::make_shared<const calibration_black_karasinski_settings>(
      tenor("3M"), 0.0, backward, use_adjustement, nodes, span, lower, upper, tolerance, false, step_days,
      std::uint64_t{1}, 1.0, update_bounds);
}

// Owns the levels, solver and model; the solver's grid is fitted to the k-th date.
struct solver_setup {
  std::shared_ptr<parameter_black_karasinski> parameter;
  std::vector<double> levels;
  std::unique_ptr<black_karasinski_pde_solver> solver;
  std::unique_ptr<model_black_karasinski> model;

  solver_setup(std::shared_ptr<parameter_black_karasinski> p, const calibration_black_karasinski_settings& s)
      : parameter(std::move(p)), levels(parameter->levels_parameter()) {
    solver = std::make_unique<black_karasinski_pde_solver>(valuation, levels, *parameter,
                                                           parameter->levels_parameter_dates(), s);
    model = std::make_unique<model_black_karasinski>(*parameter, valuation, solver->time_grid(), true);
    solver->update(*model);
  }
  double survival(std::size_t k) {
    solver->update_states(std::sqrt(model->variance(parameter->levels_parameter_dates()[k])));
    return solver->survival_probability(k, true);
  }
};

}  // namespace tarvex::bk_testing
