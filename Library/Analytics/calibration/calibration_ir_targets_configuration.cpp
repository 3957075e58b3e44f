#include "Analytics/calibration/calibration_ir_targets_configuration.h"

#include <utility>

#include "Analytics/calibration/calibration_fields.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(calibration_ir_targets_configuration)
TARVEX_REGISTER_SERIALIZER(calibration_ir_targets_configuration)

calibration_ir_targets_configuration::calibration_ir_targets_configuration(
    tenor frequency, std::vector<tenor>&& expiries, tenor coterminal, std::vector<tenor>&& cms_tenors,
    std::vector<std::vector<double>>&& strikes, bool include_caplets, bool include_coterminal, bool include_cms)
    : frequency_(frequency),
      expiries_(std::move(expiries)),
      coterminal_(coterminal),
      cms_tenors_(std::move(cms_tenors)),
      strikes_(std::move(strikes)),
      include_caplets_(include_caplets),
      include_coterminal_(include_coterminal),
      include_cms_(include_cms) {}

void calibration_ir_targets_configuration::strikes(const std::vector<std::vector<double>>& strikes) {
  if (&strikes != &strikes_) strikes_ = strikes;
}

}  // namespace tarvex
