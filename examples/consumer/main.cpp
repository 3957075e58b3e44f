#include <iostream>

#include "Analytics/parameters/parameter_markovian_hjm.h"

int main() {
  const tarvex::matrix<double> one{{1.0}};
  const auto p = std::make_shared<const tarvex::parameter_markovian_hjm>(
      tarvex::matrix<double>{{0.03}}, tarvex::matrix<double>{{0.01}}, one,
      std::vector<tarvex::datetime>{tarvex::datetime(2026, 1, 5)}, std::vector<tarvex::datetime>{tarvex::datetime(2026, 1, 5)},
      nullptr, tarvex::parameter_markovian_hjm_type::mean_reversion);
  std::cout << tarvex::parameter_markovian_hjm::json_to_string(p) << "\n";
  return p->state_parameters_size() == 2 ? 0 : 1;
}
