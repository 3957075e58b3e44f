#include "Analytics/calibration/calibration_hjm_settings.h"

#include "Analytics/calibration/calibration_fields.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(calibration_hjm_settings)
TARVEX_REGISTER_SERIALIZER(calibration_hjm_settings)

calibration_hjm_settings::calibration_hjm_settings(std::uint64_t number_of_factors,
                                                   const std::vector<double>& volatility_bounds,
                                                   const std::vector<double>& decay_bounds,
                                                   parameter_markovian_hjm_type type, bool debug, int max_iterations,
                                                   bool jacobian_with_aad_flag, bool calibrate_correlation_flag,
                                                   double tolerance, double regularization_factor,
                                                   bool regularization_flag, bool calibrate_to_all_target_flag)
    : number_of_factors_(number_of_factors),
      volatility_bounds_(volatility_bounds),
      decay_bounds_(decay_bounds),
      type_(type),
      tolerance_(tolerance),
      regularization_factor_(regularization_factor),
      regularization_flag_(regularization_flag),
      calibrate_correlation_flag_(calibrate_correlation_flag),
      jacobian_with_aad_flag_(jacobian_with_aad_flag),
      calibrate_to_all_target_flag_(calibrate_to_all_target_flag),
      debug_(debug),
      max_iterations_(max_iterations) {}

}  // namespace tarvex
