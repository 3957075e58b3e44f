#pragma once
// The cross-asset simulation job: one or more currencies (the first is the domestic one,
// whose money-market measure the whole run is simulated under), an FX rate per foreign
// currency, equities and credit entities in any of the currencies. Relative file names
// are read from the job file's folder.
//
//   {
//     "valuation_date": "2026-12-04",
//     "simulation_dates": {"step": "1M", "horizon": "10Y"}   or ["2027-01-04", …],
//     "currencies": [{"name": "USD", "market": "market.json", "parameters": "hjm_parameters.json"},
//                    {"name": "EUR", "market": "eur/market.json", "parameters": "…"},
//                    {"name": "GBP", "market": "gbp/market.json", "parameters": "…"}],
//     "fx": [{"name": "EURUSD", "foreign": "EUR", "spot": 1.08, "volatility": 0.09},
//            {"name": "GBPUSD", "foreign": "GBP", "spot": 1.27, "volatility": 0.08}],
//                                               domestic units per foreign unit, one per
//                                               foreign currency, in any order
//     "equities": [{"name": "INDEX", "spot": 100, "volatility": 0.2},
//                  {"name": "DAX", "currency": "EUR", "spot": 19000, "volatility": 0.2}],
//                                               "currency" defaults to the domestic one
//     "credits": [{"name": "ACME", "hazard_rate": 0.02, "model": "hjm",
//                  "mean_reversion": 0.1, "volatility": 0.01},
//                 {"name": "BETA", "currency": "EUR", "hazard_rate": 0.03, "model": "cir",
//                  "mean_reversion": 0.4, "long_term_level": 0.02, "volatility": 0.1,
//                  "initial_value": 0.015},
//                 {"name": "GAMMA", "model": "black_karasinski", "market": "credit/acme.json",
//                  "settings": "credit/settings.json"}],
//     "correlation": {"factors": ["USD 1", "USD 2", "EUR 1", "EURUSD", "INDEX", "ACME", …],
//                     "matrix": [[…]]},        optional; default: each currency's own
//                                               correlation, zero elsewhere
//     "random": {"generator": "philox", "seed": 42, "paths_per_batch": 5000, "batches": 4},
//     "outputs": {"bond_maturities": ["5Y", "10Y"], "quantiles": [0.05, 0.5, 0.95]}
//   }
//
// Every currency has its own curve (valued on the job's date) and HJM parameters. A
// foreign currency's rates, equities and credits follow their own money-market measure
// in their model; the run moves them to the domestic measure with the quanto drift of
// their correlation with their currency's FX rate. Their checks are in domestic units:
// E[D(0,t) X(t) P_f(t,T)] = X(0) P_f(0,T), E[D(0,t) X(t)] = X(0) P_f(0,t), E[D(0,t) X(t)
// S(t)] = X(0) S(0), and for a credit E[D(0,t) X(t) Q(t) / (X(0) D_f(0,t))] = Q(0,t),
// the survival probability under its own measure (the weight is that measure's density).
//
// A currency may instead take Black–Karasinski rates: {"name": "USD", "market": …,
// "model": "black_karasinski", "settings": "bk_rates_settings.json"} (one factor). The
// levels of a Black–Karasinski rate or credit are bootstrapped when the job is read
// (settings: the format of `tarvex calibrate bk --settings`): to the currency's curve,
// or to the credit section of the credit's own market file, valued on the job's date.
// The credit levels take no rate adjustment: the run is under the money-market measure,
// where E[exp(-int lambda)] is today's survival probability whatever the correlation.
// Piecewise-constant levels match today's curve at its pillars only, not its
// interpolation between them, and the model's conditional prices roll back on a grid
// (milliseconds each): so a Black–Karasinski factor is checked on the simulation dates
// that are pillars of its curve, its bond maturities must be pillars, and Black–
// Karasinski rates run with credits only (one currency, no FX or equity, whose checks
// would read the curve between pillars).
//
// The quantiles cover the FX and equity spots and, per credit, the survival probability
// and the hazard rate over the next day, -365 ln Q(t, t + 1 day).
//
// Factor names: "<currency> <i>" for the i-th HJM factor of a currency (from 1; a
// Black–Karasinski currency has "<currency> 1" alone), then the FX, equity and credit
// names. The correlation lists every factor once, in any
// order; it must be symmetric with a unit diagonal and positive definite.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Market/survival_curve.h"
#include "Random/random_type.h"
#include "Util/datetime.h"
#include "Util/tenor.h"
#include "Vectorization/matrix.h"
#include "market_file.h"

namespace tarvex::app {

struct cross_asset_currency {
  std::string name;
  market today;
  std::shared_ptr<const parameter_markovian_hjm> parameters;          // "hjm"
  std::shared_ptr<const parameter_black_karasinski> black_karasinski;  // or bootstrapped levels
  std::size_t fx = 0;  // of a foreign currency: its pair in cross_asset_job::fx
  std::size_t number_of_factors() const { return black_karasinski ? 1 : parameters->number_of_factors(); }
};

struct cross_asset_spot {
  std::string name;
  double spot = 1.0;
  double volatility = 0.0;
  std::size_t currency = 0;  // an FX pair's foreign currency, an equity's currency
};

struct cross_asset_credit {
  std::string name;
  std::string model;  // "hjm", "cir" or "black_karasinski"
  std::size_t currency = 0;
  double hazard_rate = 0.0, mean_reversion = 0.0, volatility = 0.0, long_term_level = 0.0, initial_value = 0.0;
  std::shared_ptr<const survival_curve> curve;                        // today's; flat for "hjm" and "cir"
  std::shared_ptr<const parameter_black_karasinski> black_karasinski;  // bootstrapped levels
  std::vector<datetime> pillars;                                       // of a "black_karasinski" curve
};

struct cross_asset_job {
  std::string file;
  datetime valuation_date;
  std::vector<datetime> dates;                // dates[0] is the valuation date
  std::vector<cross_asset_currency> currencies;  // [0] domestic
  std::vector<cross_asset_spot> fx;             // one per foreign currency, against the domestic
  std::vector<cross_asset_spot> equities;
  std::vector<cross_asset_credit> credits;
  std::vector<std::string> factor_names;      // in simulation order
  matrix<double> correlation;                 // in simulation order
  random_type generator = random_type::philox;
  std::size_t seed = 42;
  std::size_t paths_per_batch = 0;
  std::size_t batches = 0;
  std::vector<tenor> bond_maturities;
  std::vector<double> quantiles;
};

// True when the job file describes a cross-asset run (it has "currencies").
bool is_cross_asset_job(const std::string& file);
cross_asset_job read_cross_asset_job(const std::string& file);

// The factor correlation of `node` ({"factors": [names], "matrix": [[…]]}) put into the
// order of `names`. Errors name the two factors of a bad entry.
matrix<double> read_named_correlation(const json_node& node, const std::vector<std::string>& names);

}  // namespace tarvex::app
