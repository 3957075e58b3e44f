// PDE pricing of Bermudan swaptions on the Markovian HJM model: the one-factor
// Crank-Nicolson road and the two- and three-factor Craig-Sneyd road, run() alone and
// with setup.
#include <benchmark/benchmark.h>

#include "Analytics/pde/tests/pde_hjm_testing.h"

namespace tarvex {
namespace {

using namespace pde_testing;

struct bermudan {
  std::shared_ptr<const time_grid> grid;
  std::vector<std::shared_ptr<const space_grid>> grids;
  std::vector<std::shared_ptr<const diffusion>> diffusions;
  std::vector<std::size_t> middle, extents;
  std::shared_ptr<pde_manager> manager;
  std::shared_ptr<const pde_swaption> option;

  // 10NC1 annual Bermudan payer at the money, `points` nodes per factor, `steps` time steps.
  bermudan(const std::shared_ptr<const parameter_markovian_hjm>& p, std::size_t points, std::size_t steps) {
    const auto c = upward_curve();
    const auto swaps = underlyings(c, 1, 9, 10);
    option = std::make_shared<const pde_swaption>(true, 1.0, swaps[0]->swap_rate(), swaps);
    std::vector<datetime> events = option->exercise_dates();
    events.insert(events.begin(), today);
    const double days = events.back().value() - today.value();
    // Event dates cut steps, so ask for slightly longer ones to land near `steps`.
    grid = std::make_shared<const time_grid>(time_grid_config(0, 1, true, days / (steps - events.size()), 1, 1.0),
                                             today, events.back(), std::vector<datetime>{}, events);
    const std::size_t n = p->number_of_factors();
    const model_markovian_hjm analytic(*p, today, {}, true, {events.back()});
    matrix<double> cov;
    diffusion_ir_markovian_hjm_pde::state_covariance(analytic, events.back(), cov);
    for (std::size_t f = 0; f < n; ++f)
      grids.push_back(std::make_shared<const space_grid>(stretched_axis(6.0 * std::sqrt(cov(f, f)), points, 3.0)));
    diffusions.push_back(std::make_shared<const diffusion_ir_markovian_hjm_pde>(grid->dates(), c, p, grids));
    middle.assign(n, points / 2);
    extents.assign(n, points);
    manager = std::make_shared<pde_manager>(diffusions, grid, middle, grids, extents, std::vector<bool>(n, true),
                                            n == 1 ? pde_scheme_type::crank_nicolson : pde_scheme_type::craig_sneyd,
                                            true, p->correlation());
  }
  double price() {
    manager->run({option}, std::vector<double>(grid->size(), 0.0), {});
    double pv = 0.0;
    manager->pv(&pv);
    return pv;
  }
};

void bm_bermudan_1f_run(benchmark::State& state) {
  bermudan b(hjm({0.05}, {0.01}), 201, 400);
  for (auto _ : state) benchmark::DoNotOptimize(b.price());
  state.counters["time_points"] = double(b.grid->size());
}
BENCHMARK(bm_bermudan_1f_run)->Unit(benchmark::kMillisecond);

void bm_bermudan_1f_with_setup(benchmark::State& state) {
  const auto p = hjm({0.05}, {0.01});
  for (auto _ : state) {
    bermudan b(p, 201, 400);
    benchmark::DoNotOptimize(b.price());
  }
}
BENCHMARK(bm_bermudan_1f_with_setup)->Unit(benchmark::kMillisecond);

void bm_bermudan_2f_adi_run(benchmark::State& state) {
  bermudan b(hjm({0.02, 0.6}, {0.008, 0.006}, -0.5), 101, 200);
  for (auto _ : state) benchmark::DoNotOptimize(b.price());
  state.counters["time_points"] = double(b.grid->size());
}
BENCHMARK(bm_bermudan_2f_adi_run)->Unit(benchmark::kMillisecond);

void bm_bermudan_3f_adi_run(benchmark::State& state) {
  matrix<double> c(3, 3, 1.0);
  c(0, 1) = c(1, 0) = -0.4;
  c(0, 2) = c(2, 0) = 0.3;
  c(1, 2) = c(2, 1) = -0.2;
  bermudan b(hjm({0.02, 0.1, 0.25}, {0.007, 0.005, 0.004}, c), 41, 100);
  for (auto _ : state) benchmark::DoNotOptimize(b.price());
  state.counters["time_points"] = double(b.grid->size());
}
BENCHMARK(bm_bermudan_3f_adi_run)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
