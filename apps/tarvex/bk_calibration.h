#pragma once
#include <string>
#include <vector>

namespace tarvex::app {

// `tarvex calibrate bk …` (the arguments after "bk"): bootstraps Black–Karasinski
// levels to the market file's credit curve or discount curve and writes the parameters.
int run_calibrate_bk(const std::vector<std::string>& args);

}  // namespace tarvex::app
