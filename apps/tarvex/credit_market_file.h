#pragma once
// The credit section of a market file: one entity's survival curve.
//
//   "credit": {"name": "ACME", "day_count": "ACT/365F",
//              "quote": "survival_probability" | "hazard_rate",
//              "pillars": ["2027-01-05", …], "values": [0.985, …]}
//
// Pillars ascending and after the valuation date; survival probabilities in (0, 1] and
// non-increasing; hazard rates finite and non-negative (piecewise flat between pillars).
#include <memory>
#include <string>
#include <vector>

#include "Market/interpolated_survival_curve.h"
#include "json_input.h"

namespace tarvex::app {

struct credit_market {
  datetime valuation_date;
  std::string name;
  std::vector<datetime> pillars;
  std::shared_ptr<const interpolated_survival_curve> curve;
};

// Reads "valuation_date" and "credit" of a market file; input_error naming the field.
credit_market read_credit_market(const std::string& file);

}  // namespace tarvex::app
