#pragma once
#include <string>
#include <vector>

namespace tarvex::app {

// `tarvex calibrate cheyette …`: fits a one-factor Cheyette model (the HJM set's decays
// and volatilities plus a dated skew) to the smiles of the market file's vol cube,
// prints one smile fit table per target and the fitted skews, and writes the
// parameters; returns the exit status (3: poor fit, nothing written).
int run_calibrate_cheyette(const std::vector<std::string>& args);

}  // namespace tarvex::app
