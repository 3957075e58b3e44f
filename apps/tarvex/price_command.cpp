#include "price_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm_pde.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Analytics/pde/pde_manager.h"
#include "Instrument/pde_swaption.h"
#include "command_line.h"
#include "input_error.h"
#include "library_file.h"
#include "market_file.h"
#include "trade_file.h"

namespace tarvex::app {
namespace {

const char* price_help =
    "usage: tarvex price swaption --market M.json --params P.json --trade T.json [--grid N]\n"
    "\n"
    "Prices a European or Bermudan swaption (trade file: type, direction, notional, strike,\n"
    "first_exercise, maturity, frequency) on a one-, two- or three-factor Markovian HJM\n"
    "parameter file by PDE: N nodes per factor (default 201 for one factor, 101 for two,\n"
    "41 for three) and 2N time steps to the last exercise; Crank-Nicolson in one factor,\n"
    "Craig-Sneyd ADI in two and three. European swaptions are also priced in closed form.\n";

std::size_t grid_nodes(const command_line& cl, std::size_t factors) {
  // Three factors: 41^3 nodes cost about what 101^2 do per step (a few tenths of a
  // second in all); the closed form sits within a few tenths of a bp of notional there.
  if (!cl.has("--grid")) return factors == 1 ? 201 : factors == 2 ? 101 : 41;
  const std::string& text = cl.value("--grid");
  std::size_t used = 0;
  long value = 0;
  try {
    value = std::stol(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || value < 11 || value > 4001)
    throw input_error("price swaption: --grid: expected a node count from 11 to 4001, got '" + text + "'");
  return static_cast<std::size_t>(value) | 1u;  // odd, so that today's state is a node
}

// Nodes on [-half, half] packed towards 0 (half sinh(3u)/sinh(3), u uniform): the state
// at an early exercise is narrower than at the last one, which sets the width.
space_grid stretched(double half, std::size_t points) {
  vector<double> y(points);
  for (std::size_t i = 0; i < points; ++i) {
    const double u = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(points - 1);
    y[i] = half * std::sinh(3.0 * u) / std::sinh(3.0);
  }
  y[points / 2] = 0.0;
  return space_grid(y);
}

}  // namespace

int run_price(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    if (args.empty()) throw input_error("price: expected 'swaption' (see 'tarvex price --help')");
    std::cout << price_help;
    return 0;
  }
  if (args[0] != "swaption") throw input_error("price: unknown product '" + args[0] + "' (see 'tarvex price --help')");
  const command_line cl("price swaption", std::vector<std::string>(args.begin() + 1, args.end()),
                        {"--market", "--params", "--trade", "--grid"}, {});
  if (cl.help()) {
    std::cout << price_help;
    return 0;
  }
  const market m = read_market(cl.value("--market"));
  const auto params = read_library_file<parameter_markovian_hjm>(cl.value("--params"), "Markovian HJM parameters");
  const std::size_t n = params->number_of_factors();
  if (n > 3)
    throw input_error(cl.value("--params") + ": the PDE prices one- to three-factor models; these parameters have " +
                      std::to_string(n) + " factors");
  const swaption_trade trade = read_swaption_trade(cl.value("--trade"), m.valuation_date);
  const std::size_t points = grid_nodes(cl, n);
  const datetime& today = m.valuation_date;

  const auto first = std::make_shared<const interest_rate_swap>(m.curve, trade.first_exercise, trade.maturity,
                                                                trade.frequency, m.day_count);
  // The curve's fault, not the pricer's: discount factors underflowing to zero where
  // the curve is extrapolated leave the swap without a rate.
  if (!std::isfinite(first->swap_rate()))
    throw input_error(m.file + ": $.curve: the trade's swap has no finite swap rate on this curve (discount factors "
                      "that underflow to zero?)");
  const double strike = trade.at_the_money ? first->swap_rate() : trade.strike;
  std::vector<std::shared_ptr<const interest_rate_swap>> underlyings{first};
  if (trade.bermudan) {
    const auto& dates = first->all_dates();
    for (std::size_t i = 1; i + 1 < dates.size(); ++i)
      underlyings.push_back(std::make_shared<const interest_rate_swap>(m.curve, dates[i], trade.maturity,
                                                                       trade.frequency, m.day_count));
  }
  const auto option = std::make_shared<const pde_swaption>(trade.payer, trade.notional, strike, underlyings);
  const auto exercises = option->exercise_dates();

  const auto started = std::chrono::steady_clock::now();
  std::vector<datetime> events = exercises;
  events.insert(events.begin(), today);
  const double days = exercises.back().value() - today.value();
  const auto grid = std::make_shared<const time_grid>(
      time_grid_config(0, 1, true, std::max(1.0, days / (2.0 * static_cast<double>(points))), 1, 1.0), today,
      exercises.back(), std::vector<datetime>{}, events);
  // Grids in the decayed state z (see diffusion_ir_markovian_hjm_pde.h), whose spread
  // stays bounded however fast a factor decays: +-6 of its widest standard deviation
  // over the exercises, packed towards 0 where the early exercises sit. An early
  // exercise narrower than the central spacing costs little: its kink is smoothed over
  // less than a node, and the value's error is bounded by that small spread.
  const model_markovian_hjm analytic(*params, today, {}, true, exercises);
  std::vector<double> widest(n, 0.0);
  matrix<double> cov;
  for (const auto& e : exercises) {
    diffusion_ir_markovian_hjm_pde::state_covariance(analytic, e, cov);
    for (std::size_t f = 0; f < n; ++f) widest[f] = std::max(widest[f], std::sqrt(cov(f, f)));
  }
  std::vector<std::shared_ptr<const space_grid>> grids;
  for (std::size_t f = 0; f < n; ++f)
    grids.push_back(std::make_shared<const space_grid>(stretched(6.0 * widest[f], points)));
  const std::vector<std::shared_ptr<const diffusion>> diffusions{
      std::make_shared<const diffusion_ir_markovian_hjm_pde>(grid->dates(), m.curve, params, grids)};
  const std::vector<std::size_t> middle(n, points / 2), extents(n, points);
  pde_manager manager(diffusions, grid, middle, grids, extents, std::vector<bool>(n, true),
                      n == 1 ? pde_scheme_type::crank_nicolson : pde_scheme_type::craig_sneyd, true,
                      params->correlation());
  manager.run({option}, std::vector<double>(grid->size(), 0.0), {});
  double pde = 0.0;
  manager.pv(&pde);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf("%s %s swaption, notional %.2f, strike %.6f%%%s\n", trade.bermudan ? "Bermudan" : "European",
              trade.payer ? "payer" : "receiver", trade.notional, 100.0 * strike, trade.at_the_money ? " (atm)" : "");
  std::printf("exercises: %zu, %s to %s; swap ends %s\n", exercises.size(), exercises.front().to_string().c_str(),
              exercises.back().to_string().c_str(), trade.maturity.to_string().c_str());
  std::printf("model: %zu-factor Markovian HJM\n", n);
  std::printf("PDE price:         %.2f (%.4f bp of notional)\n", pde, 1e4 * pde / trade.notional);
  std::printf("grid: %zu nodes per factor x %zu dates, %s, %.1f ms\n", points, grid->size(),
              n == 1 ? "Crank-Nicolson" : "Craig-Sneyd ADI", 1e3 * seconds);
  if (!trade.bermudan) {
    const auto cf_started = std::chrono::steady_clock::now();
    const model_markovian_hjm model(*params, today, {}, true, {});
    const calibration_ir_hjm_swaption target(first);
    vector<double> root, gradient;
    target.initial_root(root, strike, model);
    const double payer = target.value(strike, model, root, gradient, 50, 1e-14);
    const double closed = trade.notional * (trade.payer ? payer : payer - first->value(strike, first->dfs()));
    const double cf_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cf_started).count();
    std::printf("closed-form price: %.2f (%.4f bp of notional), %.2f ms\n", closed, 1e4 * closed / trade.notional,
                1e3 * cf_seconds);
  }
  return 0;
}

}  // namespace tarvex::app
