#pragma once
#include <string>
#include <vector>

namespace tarvex::app {

// `tarvex demo …`: calibrates the bundled sample market, simulates on the result and
// writes everything into one folder; returns the exit status.
int run_demo(const std::vector<std::string>& args);

}  // namespace tarvex::app
