// Writes the synthetic smile cube of examples/market/cheyette from known one-factor
// Cheyette parameters (printed into the file's description), and the one-factor HJM
// start on the calibration's date grids. Run from the repository root:
//   build/release/apps/tarvex/make_cheyette_cube examples/market/cheyette
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "market_file.h"

using namespace tarvex;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_cheyette_cube FOLDER (with market.json's curve and targets.json)\n";
    return 2;
  }
  const std::string folder = argv[1];
  const app::market m = app::read_market(folder + "/market.json");
  const auto targets = calibration_ir_targets_configuration::read_from_json(folder + "/targets.json");
  const calibration_ir_hjm grids(m.valuation_date, m.curve, targets, m.day_count);
  const calibration_ir_cheyette c(m.valuation_date, m.curve, targets, m.day_count);
  const std::size_t n = grids.expiry_dates().size();
  // The known parameters: decay 0.03, volatility falling from 90 to 70 bp, skews 10 to 4.
  const std::vector<double> sigma{0.009, 0.0085, 0.008, 0.0075, 0.007}, skews{10.0, 8.0, 6.0, 5.0, 4.0};
  matrix<double> k(grids.maturity_dates().size(), 1, 0.03), s(n, 1), b(n, 1);
  for (std::size_t i = 0; i < n; ++i) {
    s(i, 0) = sigma[i];
    b(i, 0) = skews[i];
  }
  const auto hjm = std::make_shared<const parameter_markovian_hjm>(
      k, s, matrix<double>(1, 1, 1.0), grids.maturity_dates(), grids.expiry_dates(), m.day_count,
      parameter_markovian_hjm_type::mean_reversion);
  const parameter_cheyette truth(hjm, b, grids.expiry_dates(), -5.0);
  std::vector<datetime> dates{m.valuation_date};
  for (const auto& d : grids.expiry_dates()) dates.push_back(d);
  const auto model = std::make_shared<const model_cheyette>(truth, m.valuation_date, dates, true, false);
  // Cube: expiry rows, tenor columns, each expiry's co-terminal smile copied across the
  // tenors (only the co-terminal node of each row is a target).
  std::string cube = "{\"unit\": \"bp\", \"expiries\": [";
  for (std::size_t i = 0; i < targets->expiries().size(); ++i)
    cube += (i ? ", \"" : "\"") + targets->expiries()[i].to_string() + "\"";
  cube += "], \"tenors\": [";
  std::vector<std::string> tenors;
  for (auto it = c.swaptions().rbegin(); it != c.swaptions().rend(); ++it) {
    const int years = static_cast<int>((*it)->swaptions()->swap()->tenor_double() + 0.5);
    tenors.push_back("\"" + std::to_string(years) + "Y\"");
  }
  for (std::size_t j = 0; j < tenors.size(); ++j) cube += (j ? ", " : "") + tenors[j];
  cube += "],\n    \"strike_offsets_bp\": [";
  const auto& offsets = targets->strikes()[0];
  for (std::size_t j = 0; j < offsets.size(); ++j) cube += (j ? ", " : "") + std::to_string(offsets[j] * 1e4);
  cube += "],\n    \"vols\": [\n";
  for (std::size_t i = 0; i < c.swaptions().size(); ++i) {
    std::vector<double> smile;
    c.swaptions()[i]->values(smile, model, model->variance(c.swaptions()[i]->expiry()));
    std::string row = "[";
    for (std::size_t j = 0; j < smile.size(); ++j) {
      char text[32];
      std::snprintf(text, sizeof text, "%s%.4f", j ? ", " : "", 1e4 * smile[j]);
      row += text;
    }
    row += "]";
    cube += "      [";
    for (std::size_t t = 0; t < tenors.size(); ++t) cube += (t ? ", " : "") + row;
    cube += i + 1 < c.swaptions().size() ? "],\n" : "]\n";
  }
  cube += "    ]}";
  std::ofstream(folder + "/cube.fragment") << cube << '\n';  // merged into market.json by hand
  // The start: the same grids, decay 0.05 and a flat 100 bp volatility.
  const auto start = std::make_shared<const parameter_markovian_hjm>(
      matrix<double>(grids.maturity_dates().size(), 1, 0.05), matrix<double>(n, 1, 0.01), matrix<double>(1, 1, 1.0),
      grids.maturity_dates(), grids.expiry_dates(), m.day_count, parameter_markovian_hjm_type::mean_reversion);
  parameter_markovian_hjm::write_to_json(folder + "/hjm_parameters.json", start);
  return 0;
}
