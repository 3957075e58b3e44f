// Builds a two-factor Markovian HJM parameter set, stores it as JSON and as binary,
// reads both files back, checks that nothing was lost and prints the JSON text.
//
//   hjm_parameters_round_trip [output folder]   (default: ./tarvex-demo)
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Util/datetime_helper.h"
#include "Util/tenor.h"

using namespace tarvex;

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "tarvex-demo";
  std::filesystem::create_directories(folder);

  // A slow and a fast factor, volatilities stepping down after 2 and 5 years.
  const datetime today = datetime::from_string("2026-01-05");
  const std::vector<datetime> decay_dates{today};
  std::vector<datetime> vol_dates{today, datetime_helper::add_tenor(today, tenor("2Y")),
                                  datetime_helper::add_tenor(today, tenor("5Y"))};
  const matrix<double> decays{{0.03, 0.60}};
  const matrix<double> volatilities{{0.0080, 0.0060}, {0.0070, 0.0050}, {0.0065, 0.0045}};
  const matrix<double> correlation{{1.0, -0.4}, {-0.4, 1.0}};
  const auto convention = std::make_shared<const day_count_convention>(
      day_count_convention_type::act_365_fixed, std::make_shared<const calendar>());

  const auto params = std::make_shared<const parameter_markovian_hjm>(
      decays, volatilities, correlation, decay_dates, vol_dates, convention, parameter_markovian_hjm_type::mean_reversion);

  const std::string json_file = (folder / "hjm_parameters.json").string();
  const std::string binary_file = (folder / "hjm_parameters.bin").string();
  parameter_markovian_hjm::write_to_json(json_file, params);
  parameter_markovian_hjm::write_to_binary(binary_file, params);
  const auto from_json = parameter_markovian_hjm::read_from_json(json_file);
  const auto from_binary = parameter_markovian_hjm::read_from_binary(binary_file);

  const auto state = [](const parameter_markovian_hjm& p) {
    std::vector<double> s(p.state_parameters_size());
    p.get_state_parameters(s.data());
    return s;
  };
  const auto reference = state(*params);
  const auto same = [&](const parameter_markovian_hjm& p) {
    const auto s = state(p);
    return s.size() == reference.size() && std::memcmp(s.data(), reference.data(), s.size() * sizeof(double)) == 0 &&
           p.decays_dates() == params->decays_dates() && p.volatilities_dates() == params->volatilities_dates();
  };

  std::cout << parameter_markovian_hjm::json_to_string(from_json) << "\n\n"
            << params->number_of_factors() << " factors, " << params->state_parameters_size()
            << " state parameters; volatility dates";
  for (const auto& d : params->volatilities_dates()) std::cout << ' ' << d.to_string();
  std::cout << "\nwrote " << json_file << " and " << binary_file << "\n"
            << "JSON round trip:   " << (same(*from_json) ? "exact" : "DIFFERS") << "\n"
            << "binary round trip: " << (same(*from_binary) ? "exact" : "DIFFERS") << "\n";
  return same(*from_json) && same(*from_binary) ? 0 : 1;
}
