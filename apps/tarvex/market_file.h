#pragma once
// The market file: today's curve and the swaption normal-volatility grid.
//
//   {
//     "description": "…",                       optional, free text (the data's source)
//     "valuation_date": "2026-01-05",
//     "currency": "USD",
//     "curve": {"name": "OIS", "day_count": "ACT/365F",
//               "quote": "zero_rate" | "discount_factor",
//               "pillars": ["2026-07-05", …], "values": [0.0215, …]},
//     "swaption_normal_vols": {"unit": "bp" | "decimal",
//               "expiries": ["1Y", …], "tenors": ["1Y", …],
//               "vols": [[…one row per expiry, one column per tenor…]]},  at most 10000 bp
//     "swaption_normal_vol_cube": {…}            optional, see volatility_cube_file.h
//   }
#include <memory>
#include <string>
#include <vector>

#include "Market/interpolated_discount_curve.h"
#include "Market/ir_volatility_surface.h"
#include "json_input.h"

namespace tarvex::app {

struct market {
  std::string file;  // where it was read: errors the library finds later name it
  std::string description;
  datetime valuation_date;
  std::string currency;
  std::string curve_name;
  std::shared_ptr<const day_count_convention> day_count;
  std::shared_ptr<const interpolated_discount_curve> curve;
  std::vector<tenor> expiries;
  std::vector<tenor> tenors;
  std::vector<std::vector<double>> vols;  // decimal normal vols, expiry x tenor
  std::shared_ptr<const ir_volatility_surface> surface;
  std::shared_ptr<const ir_volatility_surface> cube;  // smiles; null without a cube
};

std::shared_ptr<const day_count_convention> read_day_count(const json_node& node);
market read_market(const std::string& file);

}  // namespace tarvex::app
