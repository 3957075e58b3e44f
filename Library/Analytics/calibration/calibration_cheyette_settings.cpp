#include "Analytics/calibration/calibration_cheyette_settings.h"

#include "Analytics/calibration/calibration_fields.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(calibration_cheyette_settings)
TARVEX_REGISTER_SERIALIZER(calibration_cheyette_settings)

calibration_cheyette_settings::calibration_cheyette_settings(const std::vector<double>& volatility_bounds,
                                                             const std::vector<double>& decay_bounds,
                                                             const std::vector<double>& skew_bounds,
                                                             parameter_markovian_hjm_type type, bool debug,
                                                             int max_iterations, double tolerance)
    : volatility_bounds_(volatility_bounds),
      decay_bounds_(decay_bounds),
      skew_bounds_(skew_bounds),
      type_(type),
      tolerance_(tolerance),
      debug_(debug),
      max_iterations_(max_iterations) {}

}  // namespace tarvex
