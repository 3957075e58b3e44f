#pragma once
// The simulation job file; relative file names are read from the job file's folder.
//
//   {
//     "valuation_date": "2026-01-05",
//     "market": "market.json",                   today's curve (the market file format)
//     "simulation_dates": {"step": "1M", "horizon": "10Y"}   or ["2026-04-05", …],
//     "risk_factors": [{"name": "USD rates", "model": "hjm",
//                       "parameters": "hjm_parameters.json"}],   dates overlapping the
//                                                simulation's, from valuation to last date;
//                                                "model": "cheyette" reads Cheyette
//                                                parameters (the HJM set nested, plus skew)
//     "correlation": [[…]],                      optional; default: each factor set's own
//                                                correlation, zero across risk factors
//     "random": {"generator": "philox", "seed": 42,
//                "paths_per_batch": 5000, "batches": 4},
//     "outputs": {"bond_maturities": ["2Y", "5Y", "10Y", "20Y"],
//                 "zero_rate_tenors": ["3M", "10Y"],            optional, this default
//                 "quantiles": [0.01, 0.05, 0.5, 0.95, 0.99],   optional, this default
//                 "quantile_capacity": 4096}   optional: values kept per level of each
//                                              quantile summary (at least 2); default:
//                                              exact while paths x dates x zero-rate
//                                              tenors <= 16777216, else 4096
//   }
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/parameters/parameter_cheyette.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Random/random_type.h"
#include "Util/datetime.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"
#include "market_file.h"

namespace tarvex::app {

struct risk_factor {
  std::string name;
  std::shared_ptr<const parameter_markovian_hjm> parameters;  // for Cheyette, its nested HJM set
  std::shared_ptr<const parameter_cheyette> cheyette;        // null for HJM rates
};

struct simulation_job {
  std::string file;
  market today;
  std::vector<datetime> dates;  // dates[0] is the valuation date
  std::vector<risk_factor> factors;
  matrix<double> correlation;  // over every factor of every risk factor
  random_type generator = random_type::philox;
  std::size_t seed = 42;
  std::size_t paths_per_batch = 0;
  std::size_t batches = 0;
  std::vector<tenor> bond_maturities;  // counted from the valuation date
  std::vector<tenor> zero_rate_tenors;  // counted from each simulation date
  std::vector<double> quantiles;
  std::size_t quantile_capacity = 0;  // 0: chosen from the run's size
};

// The generator names of the job file ("philox", "mersenne_twister", "sobol", …).
random_type read_generator(const json_node& node);
std::string generator_name(random_type type);

// What a run's standard errors are, for its outputs: sample standard errors, which
// bound nothing for a quasi-random (Sobol) estimate, whose error they overstate or
// understate depending on the integrand; the outputs say so rather than imply a bound.
bool quasi_random(random_type type);
std::string standard_error_kind(random_type type);

simulation_job read_simulation_job(const std::string& file);

}  // namespace tarvex::app
