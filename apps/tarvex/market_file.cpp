#include "market_file.h"

#include "input_error.h"
#include "volatility_cube_file.h"

namespace tarvex::app {

std::shared_ptr<const day_count_convention> read_day_count(const json_node& node) {
  const std::string name = node.text();
  for (auto type : {day_count_convention_type::act_365_fixed, day_count_convention_type::act_360,
                    day_count_convention_type::thirty_360, day_count_convention_type::act_act_isda}) {
    auto dc = std::make_shared<const day_count_convention>(type);
    if (dc->name() == name) return dc;
  }
  node.fail("a day count (\"ACT/365F\", \"ACT/360\", \"30/360\" or \"ACT/ACT ISDA\")");
}

market read_market(const std::string& file) {
  const json_node root = json_node::load(file);
  market m;
  m.file = file;
  if (root.has("description")) m.description = root.at("description").text();
  m.valuation_date = root.at("valuation_date").date();
  const json_node ccy = root.at("currency");
  m.currency = ccy.text();
  if (m.currency.size() != 3) ccy.fail("a three-letter currency code");

  const json_node curve = root.at("curve");
  m.curve_name = curve.has("name") ? curve.at("name").text() : "OIS";
  m.day_count = curve.has("day_count") ? read_day_count(curve.at("day_count"))
                                       : std::make_shared<const day_count_convention>();
  curve_quote_type quote = curve_quote_type::zero_rate;
  if (curve.has("quote")) {
    const json_node q = curve.at("quote");
    const std::string text = q.text();
    if (text == "discount_factor")
      quote = curve_quote_type::discount_factor;
    else if (text != "zero_rate")
      q.fail("\"zero_rate\" or \"discount_factor\"");
  }
  const json_node pillars = curve.at("pillars"), values = curve.at("values");
  const auto dates = pillars.ascending_dates();
  if (dates.empty()) pillars.fail("at least one pillar date");
  if (!(m.valuation_date < dates.front())) pillars.at(std::size_t{0}).fail("a date after the valuation date");
  const auto numbers = values.numbers();
  if (numbers.size() != dates.size()) values.fail(std::to_string(dates.size()) + " values, one per pillar");
  for (std::size_t i = 0; i < numbers.size(); ++i)
    if (quote == curve_quote_type::discount_factor && !(numbers[i] > 0.0)) values.at(i).fail("a positive discount factor");
  // What the library refuses in a curve is still this file's fault: said with its path.
  try {
    m.curve = std::make_shared<const interpolated_discount_curve>(m.valuation_date, dates, numbers, quote, m.day_count);
  } catch (const std::exception& e) {
    throw input_error(file + ": $.curve: " + e.what());
  }
  // A discount factor that underflows to zero leaves every rate beyond it 0/0.
  for (std::size_t i = 0; i < dates.size(); ++i)
    if (!(m.curve->df(dates[i]) > 0.0)) values.at(i).fail("a zero rate whose discount factor does not underflow to 0");

  const json_node grid = root.at("swaption_normal_vols");
  double scale = 1e-4;
  if (grid.has("unit")) {
    const json_node unit = grid.at("unit");
    const std::string text = unit.text();
    if (text == "decimal")
      scale = 1.0;
    else if (text != "bp")
      unit.fail("\"bp\" or \"decimal\"");
  }
  const json_node expiries = grid.at("expiries"), tenors = grid.at("tenors"), vols = grid.at("vols");
  m.expiries = expiries.periods();
  m.tenors = tenors.periods();
  if (m.expiries.empty()) expiries.fail("at least one expiry");
  if (m.tenors.empty()) tenors.fail("at least one tenor");
  if (vols.size() != m.expiries.size()) vols.fail(std::to_string(m.expiries.size()) + " rows, one per expiry");
  std::vector<double> flat;
  for (std::size_t i = 0; i < m.expiries.size(); ++i) {
    const json_node row = vols.at(i);
    if (row.size() != m.tenors.size()) row.fail(std::to_string(m.tenors.size()) + " vols, one per tenor");
    std::vector<double> decimal;
    for (std::size_t j = 0; j < m.tenors.size(); ++j) {
      const double v = row.at(j).non_negative_number() * scale;
      // Far above any market, and low enough that a calibration's residuals (hundredths
      // of a basis point) stay finite.
      if (v > 1.0) row.at(j).fail(scale == 1.0 ? "a normal vol of at most 1 (10000 bp)" : "a normal vol of at most 10000 bp");
      decimal.push_back(v);
      flat.push_back(v);
    }
    m.vols.push_back(decimal);
  }
  try {
    m.surface = std::make_shared<const ir_volatility_surface>(m.valuation_date, m.expiries, m.tenors, flat, m.day_count);
  } catch (const std::exception& e) {
    throw input_error(file + ": $.swaption_normal_vols: " + e.what());
  }
  if (root.has("swaption_normal_vol_cube"))
    m.cube = read_volatility_cube(root.at("swaption_normal_vol_cube"), m.valuation_date, m.day_count);
  return m;
}

}  // namespace tarvex::app
