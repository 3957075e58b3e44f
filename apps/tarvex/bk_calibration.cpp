#include "bk_calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include "Analytics/calibration/calibration_black_karasinski_settings.h"
#include "Analytics/calibration/credit/black_karasinski/calibration_credit_black_karasinski.h"
#include "Analytics/models/model_black_karasinski.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Analytics/pde/black_karasinski_pde_solver.h"
#include "Core/error.h"
#include "command_line.h"
#include "correlation_input.h"
#include "credit_market_file.h"
#include "input_error.h"
#include "library_file.h"
#include "market_file.h"
#include "output_folder.h"

namespace tarvex::app {
namespace {

const char* help =
    "usage: tarvex calibrate bk --market M.json --settings S.json --curve credit|discount\n"
    "                           [--rates P.json --correlation C.json] -o PARAMS.json\n"
    "\n"
    "Bootstraps the levels of a one-factor Black-Karasinski model, one per pillar, so that\n"
    "the model reproduces the market file's credit curve (survival probabilities) or its\n"
    "discount curve, with the model's PDE solver. Prints the fit table (pillar, market,\n"
    "model, difference in bp) and the levels; writes the parameter set.\n"
    "\n"
    "  --market       market file: \"valuation_date\" and \"credit\" (or \"curve\" for discount)\n"
    "  --settings     {\"mean_reversion\", \"volatility\", \"time_step_in_days\", \"number_of_roots\",\n"
    "                  \"pde_grid_size\", \"pde_span\", \"step_days\", \"tolerance\", \"backward\",\n"
    "                  \"level_bounds\": [low, high]}\n"
    "  --rates        Markovian HJM parameters of the rates: the credit drift adjustment\n"
    "  --correlation  correlation of (credit, rate factors...), credit first\n"
    "  -o             where to write the parameter set\n";

// Survival (or discount factor) to every level date under p, on a fresh solver.
std::vector<double> model_values(const parameter_black_karasinski& p, const datetime& valuation,
                                 const calibration_black_karasinski_settings& settings) {
  std::vector<double> levels = p.levels_parameter();
  black_karasinski_pde_solver solver(valuation, levels, p, p.levels_parameter_dates(), settings);
  const model_black_karasinski model(p, valuation, solver.time_grid(), true);
  solver.update(model);
  std::vector<double> out;
  for (std::size_t k = 1; k < levels.size(); ++k) {
    solver.update_states(std::sqrt(model.variance(p.levels_parameter_dates()[k])));
    out.push_back(solver.survival_probability(k, true));
  }
  return out;
}

}  // namespace

bk_settings read_bk_settings(const std::string& file, bool adjust) {
  const json_node root = json_node::load(file);
  bk_settings s{};
  s.mean_reversion = root.at("mean_reversion").non_negative_number();
  s.volatility = root.at("volatility").positive_number();
  const auto short_count = [&](const char* key, std::int64_t most) {
    const json_node n = root.at(key);
    const auto v = n.integer();
    if (v < 1 || v > most) n.fail("an integer from 1 to " + std::to_string(most));
    return static_cast<short>(v);
  };
  s.time_step_in_days = short_count("time_step_in_days", 366);
  s.number_of_roots = short_count("number_of_roots", 100);
  const json_node nodes = root.at("pde_grid_size");
  if (nodes.integer() < 11 || nodes.integer() > 100001) nodes.fail("11 to 100001 nodes");
  const json_node bounds = root.at("level_bounds");
  if (bounds.size() != 2 || !(bounds.at(std::size_t{0}).number() < bounds.at(std::size_t{1}).number()))
    bounds.fail("two ascending bounds");
  s.bootstrap = std::make_shared<const calibration_black_karasinski_settings>(
      tenor("3M"), 0.0, root.at("backward").boolean(), adjust, static_cast<std::uint64_t>(nodes.integer()),
      root.at("pde_span").positive_number(), bounds.at(std::size_t{0}).number(), bounds.at(std::size_t{1}).number(),
      root.at("tolerance").positive_number(), false, root.at("step_days").positive_number(), 1, 1.0, true);
  return s;
}

std::shared_ptr<parameter_black_karasinski> bootstrap_bk_levels(const bk_settings& s, const datetime& valuation,
                                                                const std::vector<datetime>& pillars,
                                                                const std::shared_ptr<const survival_curve>& credit,
                                                                const std::shared_ptr<const discount_curve>& discount,
                                                                const std::shared_ptr<const parameter_markovian_hjm>& rates,
                                                                const matrix<double>& rho) {
  std::vector<datetime> dates{valuation};
  dates.insert(dates.end(), pillars.begin(), pillars.end());
  matrix<double> k(1, 1, s.mean_reversion), v(1, 1, s.volatility), one(1, 1, 1.0);
  auto hjm = std::make_shared<parameter_markovian_hjm>(k, v, one, std::vector<datetime>{valuation},
                                                       std::vector<datetime>{valuation}, nullptr,
                                                       parameter_markovian_hjm_type::mean_reversion);
  auto p = std::make_shared<parameter_black_karasinski>(hjm, std::vector<double>(dates.size(), std::log(0.01)), dates,
                                                        s.time_step_in_days, s.number_of_roots);
  if (credit)
    calibration_credit_black_karasinski(valuation, credit, s.bootstrap, rates, rho).calibrate_level(*p);
  else
    calibration_credit_black_karasinski::calibrate_discount_level(valuation, discount, s.bootstrap, *p);
  return p;
}

int run_calibrate_bk(const std::vector<std::string>& raw) {
  std::vector<std::string> args = raw;
  for (auto& a : args)
    if (a == "-o") a = "--output";
  const command_line cl("calibrate bk", args, {"--market", "--settings", "--rates", "--correlation", "--curve", "--output"},
                        {});
  if (cl.help()) {
    std::cout << help;
    return 0;
  }
  const std::string output = cl.value("--output"), which = cl.value("--curve");
  if (which != "credit" && which != "discount")
    throw input_error("tarvex calibrate bk: --curve must be 'credit' or 'discount', got '" + which + "'");
  if (cl.has("--rates") != cl.has("--correlation"))
    throw input_error("tarvex calibrate bk: --rates and --correlation go together");
  if (which == "discount" && cl.has("--rates"))
    throw input_error("tarvex calibrate bk: --rates adjusts a credit curve; the discount curve takes none");

  datetime valuation;
  std::vector<datetime> pillars;
  std::shared_ptr<const survival_curve> credit;
  std::shared_ptr<const discount_curve> discount;
  if (which == "credit") {
    const credit_market c = read_credit_market(cl.value("--market"));
    valuation = c.valuation_date;
    pillars = c.pillars;
    credit = c.curve;
  } else {
    const market m = read_market(cl.value("--market"));
    valuation = m.valuation_date;
    pillars = m.curve->dates();
    discount = m.curve;
  }
  const bk_settings s = read_bk_settings(cl.value("--settings"), cl.has("--rates"));
  std::shared_ptr<const parameter_markovian_hjm> rates;
  matrix<double> rho;
  if (cl.has("--rates")) {
    rates = read_library_file<parameter_markovian_hjm>(cl.value("--rates"), "Markovian HJM parameters");
    const std::size_t n = rates->number_of_factors();
    const json_node c = json_node::load(cl.value("--correlation"));
    const matrix<double> full = read_correlation_matrix(c, n + 1);
    rho = matrix<double>(1, n);
    for (std::size_t f = 0; f < n; ++f) rho(0, f) = full(0, f + 1);
  }
  output_file file(output);

  // A curve the levels cannot reach (negative rates, for a lognormal short rate) or
  // settings they cannot reach it with is an input's fault: exit 2 naming both files.
  const auto p = [&] {
    try {
      return bootstrap_bk_levels(s, valuation, pillars, credit, discount, rates, rho);
    } catch (const Error& e) {
      std::string why = e.what();
      why = why.substr(std::min(why.size(), why.find_first_not_of(' ')));
      if (!why.empty() && why.back() == '.') why.pop_back();
      throw input_error(cl.value("--market") + ": no Black-Karasinski levels fit this " +
                        (credit ? "credit" : "discount") + " curve with the settings of " + cl.value("--settings") +
                        " (" + why + ")");
    }
  }();
  const std::vector<datetime>& dates = p->levels_parameter_dates();

  const auto model = model_values(*p, valuation, *s.bootstrap);
  const char* label = credit ? "survival" : "discount";
  std::printf("%-12s %14s %14s %10s\n", "pillar", ("market " + std::string(label)).c_str(),
              ("model " + std::string(label)).c_str(), "diff (bp)");
  for (std::size_t i = 0; i < pillars.size(); ++i) {
    const double market_value =
        credit ? credit->survival_probability(valuation, pillars[i]) : discount->df(valuation, pillars[i]);
    std::printf("%-12s %14.10f %14.10f %10.6f\n", pillars[i].to_string().c_str(), market_value, model[i],
                (model[i] - market_value) * 1e4);
  }
  std::printf("\n%-12s %12s %12s\n", "from", "level", "exp(level)");
  for (std::size_t i = 0; i < dates.size(); ++i)
    std::printf("%-12s %12.8f %12.8f\n", dates[i].to_string().c_str(), p->levels_parameter()[i],
                std::exp(p->levels_parameter()[i]));
  std::fflush(stdout);
  parameter_black_karasinski::write_to_json(file.temporary().string(), p);
  file.commit();
  std::cout << "parameters written to " << output << '\n';
  return 0;
}

}  // namespace tarvex::app
