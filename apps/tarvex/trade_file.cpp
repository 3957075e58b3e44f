#include "trade_file.h"

#include "input_error.h"
#include "json_input.h"

namespace tarvex::app {

swaption_trade read_swaption_trade(const std::string& file, const datetime& valuation_date) {
  const json_node root = json_node::load(file);
  swaption_trade t;
  const json_node type = root.at("type");
  const std::string kind = type.text();
  if (kind != "european_swaption" && kind != "bermudan_swaption") type.fail("\"european_swaption\" or \"bermudan_swaption\"");
  t.bermudan = kind == "bermudan_swaption";
  const json_node direction = root.at("direction");
  const std::string side = direction.text();
  if (side != "payer" && side != "receiver") direction.fail("\"payer\" or \"receiver\"");
  t.payer = side == "payer";
  t.notional = root.at("notional").positive_number();
  const json_node strike = root.at("strike");
  if (strike.value().is_string()) {
    if (strike.text() != "atm") strike.fail("a decimal rate or \"atm\"");
    t.at_the_money = true;
  } else {
    t.strike = strike.number();
  }
  const json_node first = root.at("first_exercise");
  t.first_exercise = first.date();
  t.maturity = root.at("maturity").date();
  t.frequency = root.at("frequency").period();
  if (!(valuation_date < t.first_exercise))
    throw input_error(file + ": " + first.path() + ": the exercise " + t.first_exercise.to_string() +
                      " is not after the valuation date " + valuation_date.to_string());
  if (!(t.first_exercise < t.maturity))
    throw input_error(file + ": " + first.path() + ": the exercise " + t.first_exercise.to_string() +
                      " is not before the maturity " + t.maturity.to_string());
  return t;
}

}  // namespace tarvex::app
