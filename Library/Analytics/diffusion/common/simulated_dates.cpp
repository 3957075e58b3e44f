#include "Analytics/diffusion/common/simulated_dates.h"

#include "Core/check.h"

namespace tarvex {

void simulated_date_failure(const market_data& object, const char* name, const datetime& t) {
  if (!object.has_valuation_date())
    TARVEX_FAIL(name, " has no date before states_initialize(), asked at ", t.to_string());
  TARVEX_FAIL(name, " is at ", object.valuation_date().to_string(), ", asked at ", t.to_string());
}

void simulated_period_failure(const char* name, const datetime& t, const datetime& T) {
  TARVEX_FAIL(name, " asked from ", t.to_string(), " to ", T.to_string(), ", an end before its start");
}

}  // namespace tarvex
