#pragma once
#include <optional>

#include "Util/datetime.h"

namespace tarvex {

// Base of every market object. The date is the object's as-of date: a live curve is
// built with it; a simulated object receives it from finalize() after each simulated
// step, which is why finalize is const and the date mutable (simulated objects are
// shared as pointers to const while the simulation moves them forward).
class market_data {
 public:
  market_data() = default;
  explicit market_data(const datetime& valuation_date) : date_(valuation_date) {}
  virtual ~market_data() = default;

  // Called once the object is complete for `date`; the base stores the date.
  virtual void finalize(const datetime& date) const { date_ = date; }

  bool has_valuation_date() const { return date_.has_value(); }
  // Expects a date: "market data has no valuation date" otherwise.
  const datetime& valuation_date() const;

 protected:
  market_data(const market_data&) = default;
  market_data& operator=(const market_data&) = default;

 private:
  mutable std::optional<datetime> date_;
};

// Base of every configuration object (settings, targets, measures, random configuration).
class config_data {
 public:
  virtual ~config_data() = default;
};

// Base of the life-cycle records (fixings, exercises) that instruments carry.
class life_cycle_data {
 public:
  virtual ~life_cycle_data() = default;
};

}  // namespace tarvex
