#include "volatility_cube_file.h"

#include <cmath>
#include <vector>

#include "input_error.h"

namespace tarvex::app {

std::shared_ptr<const ir_volatility_surface> read_volatility_cube(
    const json_node& cube, const datetime& valuation_date, const std::shared_ptr<const day_count_convention>& day_count) {
  double scale = 1e-4;
  if (cube.has("unit")) {
    const json_node unit = cube.at("unit");
    const std::string text = unit.text();
    if (text == "decimal")
      scale = 1.0;
    else if (text != "bp")
      unit.fail("\"bp\" or \"decimal\"");
  }
  const json_node expiries = cube.at("expiries"), tenors = cube.at("tenors"), offsets = cube.at("strike_offsets_bp"),
                  vols = cube.at("vols");
  const auto e = expiries.periods(), t = tenors.periods();
  if (e.empty()) expiries.fail("at least one expiry");
  if (t.empty()) tenors.fail("at least one tenor");
  if (offsets.size() == 0) offsets.fail("at least one strike offset");
  std::vector<double> k;
  double previous = 0.0;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const json_node o = offsets.at(i);
    const double bp = o.number();
    // The smile is quoted up to 300 bp either side of the forward.
    if (!(std::fabs(bp) <= 300.0)) o.fail("an offset within 300 bp of the forward");
    if (i > 0 && !(bp > previous)) o.fail("an offset above the previous one (offsets ascend)");
    previous = bp;
    k.push_back(bp * 1e-4);
  }
  if (vols.size() != e.size()) vols.fail(std::to_string(e.size()) + " rows, one per expiry");
  std::vector<double> flat;
  for (std::size_t i = 0; i < e.size(); ++i) {
    const json_node row = vols.at(i);
    if (row.size() != t.size()) row.fail(std::to_string(t.size()) + " smiles, one per tenor");
    for (std::size_t j = 0; j < t.size(); ++j) {
      const json_node smile = row.at(j);
      if (smile.size() != k.size()) smile.fail(std::to_string(k.size()) + " vols, one per strike offset");
      for (std::size_t s = 0; s < k.size(); ++s) flat.push_back(smile.at(s).non_negative_number() * scale);
    }
  }
  try {
    return std::make_shared<const ir_volatility_surface>(valuation_date, e, t, flat, day_count, k);
  } catch (const std::exception& x) {
    throw input_error(cube.file() + ": " + cube.path() + ": " + x.what());
  }
}

}  // namespace tarvex::app
