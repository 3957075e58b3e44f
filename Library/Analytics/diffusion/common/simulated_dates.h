#pragma once
#include "Market/market_data.h"
#include "Util/datetime.h"

namespace tarvex {

// The date checks of the simulated market objects. Their states hold one date, the
// last one the simulation finalised, so they answer from that date only and forwards
// in time. One comparison per query, never per path; the message is built on failure.

[[noreturn]] void simulated_date_failure(const market_data& object, const char* name, const datetime& t);
[[noreturn]] void simulated_period_failure(const char* name, const datetime& t, const datetime& T);

// Throws unless `object` (called `name` in the message) was last finalised at t.
inline void check_simulated_date(const market_data& object, const char* name, const datetime& t) {
  if (!object.has_valuation_date() || !(object.valuation_date() == t)) [[unlikely]]
    simulated_date_failure(object, name, t);
}

// Throws unless `object` was last finalised at t and T is not before t.
inline void check_simulated_period(const market_data& object, const char* name, const datetime& t,
                                   const datetime& T) {
  check_simulated_date(object, name, t);
  if (T < t) [[unlikely]] simulated_period_failure(name, t, T);
}

}  // namespace tarvex
