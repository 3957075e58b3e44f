// Black–Karasinski: the 20-pillar credit bootstrap to 30 years (201 nodes, weekly grid),
// one solver step per node, the Gauss–Hermite conditional survival for 10,000 states,
// and the rate diffusion in simulation_manager (10,000 paths, 120 monthly dates).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Analytics/calibration/credit/black_karasinski/calibration_credit_black_karasinski.h"
#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/ir/diffusion_ir_black_karasinski.h"
#include "Analytics/pde/tests/bk_solver_harness.h"
#include "Market/interpolated_discount_curve.h"
#include "Market/interpolated_survival_curve.h"
#include "Random/random_type.h"
#include "Util/datetime_helper.h"
#include "Util/tenor.h"

namespace {

using namespace tarvex;
using namespace tarvex::bk_testing;

std::vector<datetime> pillars() {
  std::vector<datetime> d{valuation};
  for (int m : {6, 12, 18, 24, 36, 48, 60, 72, 84, 96, 108, 120, 144, 168, 192, 216, 240, 300, 360})
    d.emplace_back(valuation.year() + m / 12, 1 + m % 12, 5);
  return d;
}

std::shared_ptr<const survival_curve> market() {
  const auto d = pillars();
  std::vector<double> hazards;
  for (std::size_t i = 1; i < d.size(); ++i) hazards.push_back(0.02 * (1.0 + 0.3 * std::sin(double(i))));
  return std::make_shared<const interpolated_survival_curve>(valuation, std::vector<datetime>(d.begin() + 1, d.end()),
                                                             hazards);
}

void bootstrap(benchmark::State& state) {
  const bool backward = state.range(0) != 0;
  const auto settings = solver_settings(backward, 201, 7.0, 6.0, 1e-10);
  const auto curve = market();
  for (auto _ : state) {
    auto p = with_levels(hjm_part(0.1, 0.6, 0.8), pillars(), std::vector<double>(20, 0.01));
    calibration_credit_black_karasinski(valuation, curve, settings, nullptr, matrix<double>()).calibrate_level(*p);
    benchmark::DoNotOptimize(p->levels_parameter().data());
  }
}
BENCHMARK(bootstrap)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Survival to 30 years: 1565 weekly steps of 201 nodes; items are node-steps.
void solver_step(benchmark::State& state) {
  const double kappa = double(state.range(0)) / 10.0;
  solver_setup s(with_levels(hjm_part(kappa, 0.6, 0.8), pillars(), std::vector<double>(20, 0.02)),
                 *solver_settings(true, 201, 7.0));
  s.survival(19);
  const std::size_t steps = s.solver->levels_dates_index()[19];
  for (auto _ : state) benchmark::DoNotOptimize(s.solver->survival_probability(19, true));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(steps * s.solver->size()));
}
BENCHMARK(solver_step)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// E[exp(-int_1Y^11Y r) | x] for 10,000 states: weekly steps, 12 nodes, 401-point grid.
void survival_probability_states(benchmark::State& state) {
  const auto p = with_levels(hjm_part(0.1, 0.6, 0.8), pillars(), std::vector<double>(20, 0.02));
  const std::vector<datetime> dates{valuation, datetime(2027, 1, 5)};
  const model_black_karasinski m(*p, valuation, dates, false);
  matrix<double> states(2, 10000);
  for (std::size_t q = 0; q < 10000; ++q) states(0, q) = -2.0 + 4.0 * double(q) / 9999.0;
  vector<double> out(10000);
  for (auto _ : state) {
    m.conditional_price(states, datetime(2027, 1, 5), datetime(2037, 1, 5), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 10000);
}
BENCHMARK(survival_probability_states)->Unit(benchmark::kMillisecond);

// 10,000 paths over 120 monthly dates; items are path-steps.
void diffusion_in_manager(benchmark::State& state) {
  std::vector<datetime> dates;
  for (std::size_t k = 0; k <= 120; ++k) dates.push_back(datetime_helper::add_tenor(valuation, tenor(std::to_string(k) + "M"), 1));
  const auto curve = std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2046, 1, 5)}, std::vector<double>{0.02, 0.03});
  auto rates = std::make_shared<const diffusion_ir_black_karasinski>(
      dates, curve, with_levels(hjm_part(0.1, 0.25), yearly(11), std::vector<double>(11, 0.03)));
  const auto config = std::make_shared<const random_config>(random_type::philox, 7, 10000, dates.size(), 1, 0, false,
                                                            false, random_type::philox, device_type::cpu);
  for (auto _ : state) {
    simulation_manager manager({rates}, {nullptr}, matrix<double>(1, 1, 1.0), config, dates);
    manager.states_initialize();
    for (std::size_t k = 1; k < dates.size(); ++k) manager.propagate(k);
    benchmark::DoNotOptimize(manager.data(0).get());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 10000 * 120);
}
BENCHMARK(diffusion_in_manager)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
