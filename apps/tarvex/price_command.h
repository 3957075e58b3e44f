#pragma once
#include <string>
#include <vector>

namespace tarvex::app {

// `tarvex price swaption …`: European and Bermudan swaptions on the one- to three-factor
// Markovian HJM model by PDE (European ones also in closed form); returns the exit status.
int run_price(const std::vector<std::string>& args);

}  // namespace tarvex::app
