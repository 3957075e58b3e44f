// End-to-end Monte Carlo: one simulation_manager batch of 10,000 paths, a 3-factor
// Markovian HJM curve on 120 monthly dates, reading the numeraire and one bond per
// date, against the random numbers alone (the random manager's correlate per step).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Analytics/common/random_config.h"
#include "Analytics/common/random_manager.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Market/interpolated_discount_curve.h"
#include "Random/random_type.h"
#include "Util/datetime_helper.h"
#include "Util/tenor.h"

namespace {

using namespace tarvex;

constexpr std::size_t paths = 10000, factors = 3, steps = 120;

struct setup {
  std::vector<datetime> dates;
  std::shared_ptr<const diffusion> rates;
  matrix<double> rho{factors, factors, 0.3};
  datetime today{2026, 1, 5};

  setup() {
    for (std::size_t k = 0; k <= steps; ++k)
      dates.push_back(datetime_helper::add_tenor(today, tenor(std::to_string(k) + "M"), 1));
    auto curve = std::make_shared<const interpolated_discount_curve>(
        today, std::vector<datetime>{datetime(2027, 1, 5), datetime(2036, 1, 5), datetime(2046, 1, 5)},
        std::vector<double>{0.02, 0.03, 0.035});
    matrix<double> kappa(1, factors), sigma(1, factors);
    for (std::size_t f = 0; f < factors; ++f) {
      kappa(0, f) = 0.02 + 0.4 * double(f);
      sigma(0, f) = 0.01 - 0.002 * double(f);
      rho(f, f) = 1.0;
    }
    auto parameters = std::make_shared<const parameter_markovian_hjm>(kappa, sigma, rho, std::vector<datetime>{today},
                                                                      std::vector<datetime>{today}, nullptr,
                                                                    parameter_markovian_hjm_type::mean_reversion);
    rates = std::make_shared<const diffusion_ir_markovian_hjm>(dates, curve, parameters);
  }
  std::shared_ptr<const random_config> config(random_type type) const {
    return std::make_shared<const random_config>(type, 7, paths, dates.size(), factors, 0, false, false,
                                                 random_type::philox, device_type::cpu);
  }
};

void report(benchmark::State& state) {
  state.counters["path_factor_steps/s"] = benchmark::Counter(double(paths * factors * steps) * double(state.iterations()),
                                                             benchmark::Counter::kIsRate);
}

void BM_simulation_run(benchmark::State& state) {
  const setup s;
  const auto type = static_cast<random_type>(state.range(0));
  vector<double> numeraire(paths), bond(paths);
  for (auto _ : state) {
    simulation_manager manager({s.rates}, {nullptr}, s.rho, s.config(type), s.dates);
    manager.states_initialize();
    const auto curve = diffusion::diffusion_discount_curve(manager.data(0));
    for (std::size_t k = 1; k <= steps; ++k) {
      manager.propagate(k);
      curve->discounting(numeraire, s.dates[k]);
      curve->log_df(bond, s.dates[k], s.dates.back());
    }
    benchmark::DoNotOptimize(bond.data());
  }
  report(state);
}
BENCHMARK(BM_simulation_run)->Arg(int(random_type::philox))->Arg(int(random_type::threefry))
    ->Arg(int(random_type::mersenne_twister))->Arg(int(random_type::sobol))->Unit(benchmark::kMillisecond);

void BM_random_numbers_only(benchmark::State& state) {
  const setup s;
  const auto type = static_cast<random_type>(state.range(0));
  matrix<double> lower(factors, factors);
  for (std::size_t f = 0; f < factors; ++f) lower(f, f) = 1.0;
  for (auto _ : state) {
    random_manager manager(s.config(type));
    for (std::size_t k = 1; k <= steps; ++k) benchmark::DoNotOptimize(manager.correlate(k, lower).data());
  }
  report(state);
}
BENCHMARK(BM_random_numbers_only)->Arg(int(random_type::philox))->Arg(int(random_type::threefry))
    ->Arg(int(random_type::mersenne_twister))->Arg(int(random_type::sobol))->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
