#pragma once
// The swaption normal-vol cube of the market file (optional, beside the ATM grid):
//
//   "swaption_normal_vol_cube": {"unit": "bp" | "decimal",
//       "expiries": ["1Y", …], "tenors": ["1Y", …],
//       "strike_offsets_bp": [-200, -100, 0, 100, 200],   K - F in bp, ascending, within +-300
//       "vols": [[[…one vol per offset…] one per tenor] one per expiry]}
#include <memory>
#include <string>

#include "Market/ir_volatility_surface.h"
#include "Util/datetime.h"
#include "Util/day_count_convention.h"
#include "json_input.h"

namespace tarvex::app {

// The cube as the smile form of ir_volatility_surface; every problem is an input_error
// naming the file and the JSON path of the bad field.
std::shared_ptr<const ir_volatility_surface> read_volatility_cube(
    const json_node& cube, const datetime& valuation_date, const std::shared_ptr<const day_count_convention>& day_count);

}  // namespace tarvex::app
