#pragma once
// Every class of the serializer registries, with a holder of its own type (the
// registered functions cast the holder to it), plus the parameter sets, which are
// read directly. The first input byte picks the class.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>

#include "Analytics/calibration/calibration_cheyette_settings.h"
#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/change_of_measure/measure_id.h"
#include "Analytics/change_of_measure/measures.h"
#include "Analytics/common/correlation_manager.h"
#include "Analytics/common/random_config.h"
#include "Analytics/diffusion/credit/id/diffusion_credit_id.h"
#include "Analytics/diffusion/equity/id/diffusion_equity_id.h"
#include "Analytics/diffusion/fx/id/diffusion_fx_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/demangle.h"

namespace tarvex::fuzz {

// Calls visit.template operator()<C>() for the class numbered `which` (modulo the count).
template <class Visitor>
void with_class(std::uint8_t which, Visitor&& visit) {
  switch (which % 12) {
    case 0: return visit.template operator()<calibration_cheyette_settings>();
    case 1: return visit.template operator()<calibration_hjm_settings>();
    case 2: return visit.template operator()<calibration_ir_targets_configuration>();
    case 3: return visit.template operator()<measure_id>();
    case 4: return visit.template operator()<measure>();
    case 5: return visit.template operator()<correlation_manager>();
    case 6: return visit.template operator()<random_config>();
    case 7: return visit.template operator()<diffusion_credit_id>();
    case 8: return visit.template operator()<diffusion_equity_id>();
    case 9: return visit.template operator()<diffusion_fx_id>();
    case 10: return visit.template operator()<diffusion_ir_id>();
    default: return visit.template operator()<parameter_markovian_hjm>();
  }
}

}  // namespace tarvex::fuzz
