// Cheyette model hot paths beside the Markovian HJM step they extend: the simulation
// step and the path-wise conditional price over 10,000 paths, per path, factor and step;
// heap allocations inside the timed loop are counted through the Core allocator.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "Analytics/models/model_cheyette.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_cheyette.h"
#include "Core/cpu_allocator.h"

namespace {

using namespace tarvex;

constexpr std::size_t paths = 10000;

struct setup {
  std::shared_ptr<const parameter_markovian_hjm> hjm;
  std::shared_ptr<const parameter_cheyette> parameters;
  std::vector<datetime> dates;
  std::unique_ptr<model_cheyette> model;
  std::unique_ptr<model_markovian_hjm> hjm_model;
  matrix<double> draws, previous, current, hjm_previous, hjm_current;

  explicit setup(std::size_t n) {
    const datetime today(2026, 1, 5);
    for (int k = 0; k <= 120; ++k) dates.emplace_back(today.value() + 30.4375 * k);
    matrix<double> kappa(1, n), sigma(1, n), rho(n, n, 0.3), skew(1, n, 10.0);
    for (std::size_t f = 0; f < n; ++f) {
      kappa(0, f) = 0.02 + 0.4 * f;
      sigma(0, f) = 0.01 - 0.002 * f;
      rho(f, f) = 1.0;
    }
    hjm = std::make_shared<const parameter_markovian_hjm>(kappa, sigma, rho, std::vector<datetime>{today},
                                                          std::vector<datetime>{today}, nullptr,
                                                          parameter_markovian_hjm_type::mean_reversion);
    parameters = std::make_shared<const parameter_cheyette>(hjm, skew, std::vector<datetime>{today}, 0.0);
    model = std::make_unique<model_cheyette>(*parameters, today, dates, false, false);
    hjm_model = std::make_unique<model_markovian_hjm>(*hjm, today, dates, false, std::vector<datetime>{});
    draws = matrix<double>(n, paths);
    std::mt19937_64 rng(1);
    std::normal_distribution<double> normal;
    for (std::size_t i = 0; i < draws.size(); ++i) draws.data()[i] = normal(rng);
    current = matrix<double>(n * (n + 3), paths, 0.0);
    previous = matrix<double>(n * (n + 3), paths, 0.0);
    hjm_current = matrix<double>(n + 1, paths, 0.0);
    hjm_previous = matrix<double>(n + 1, paths, 0.0);
  }
};

void report(benchmark::State& state, std::size_t n, std::size_t before) {
  const double work = static_cast<double>(state.iterations()) * paths * n;
  state.counters["ns_per_path_factor"] =
      benchmark::Counter(work, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocations"] = static_cast<double>(cpu_allocator::allocation_count() - before);
}

void cheyette_simulation_step(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  setup s(n);
  std::uint64_t k = 1;
  const auto before = cpu_allocator::allocation_count();
  for (auto _ : state) {
    s.model->simulation_step(nullptr, k, s.draws, s.previous, s.current);
    benchmark::DoNotOptimize(s.current.data());
    k = k == 120 ? 1 : k + 1;
  }
  report(state, n, before);
}

void hjm_simulation_step(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  setup s(n);
  std::uint64_t k = 1;
  const auto before = cpu_allocator::allocation_count();
  for (auto _ : state) {
    s.hjm_model->simulation_step(nullptr, k, s.draws, s.hjm_previous, s.hjm_current);
    benchmark::DoNotOptimize(s.hjm_current.data());
    k = k == 120 ? 1 : k + 1;
  }
  report(state, n, before);
}

void cheyette_conditional_price(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  setup s(n);
  for (std::uint64_t k = 1; k <= 60; ++k) s.model->simulation_step(nullptr, k, s.draws, s.previous, s.current);
  vector<double> out(paths);
  const datetime T(s.dates[60].value() + 3650.0);
  const auto before = cpu_allocator::allocation_count();
  for (auto _ : state) {
    s.model->conditional_price(s.current, s.dates[60], T, out);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, n, before);
}

BENCHMARK(cheyette_simulation_step)->Arg(1)->Arg(2);
BENCHMARK(hjm_simulation_step)->Arg(1)->Arg(2);
BENCHMARK(cheyette_conditional_price)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
