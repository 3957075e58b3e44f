#pragma once
// The trade file of `tarvex price swaption`:
//
//   {
//     "type": "european_swaption" | "bermudan_swaption",
//     "direction": "payer" | "receiver",        payer pays the fixed strike
//     "notional": 10000000,                       positive
//     "strike": 0.03 | "atm",                     decimal, or today's forward swap rate
//     "first_exercise": "2027-01-05",             the expiry of a European swaption
//     "maturity": "2036-01-05",                   end of the underlying swap
//     "frequency": "1Y"                           both legs; Bermudans exercise on every
//   }                                              fixed-leg date before the maturity
#include <string>

#include "Util/datetime.h"
#include "Util/tenor.h"

namespace tarvex::app {

struct swaption_trade {
  bool bermudan = false;
  bool payer = true;
  double notional = 0.0;
  bool at_the_money = false;
  double strike = 0.0;
  datetime first_exercise;
  datetime maturity;
  tenor frequency;
};

// Every problem is an input_error naming the file and the field.
swaption_trade read_swaption_trade(const std::string& file, const datetime& valuation_date);

}  // namespace tarvex::app
