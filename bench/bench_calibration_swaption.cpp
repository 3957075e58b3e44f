// One price of the HJM calibration's swaption target: a 5Y x 10Y annual payer (10
// periods) under a one-factor model, from the previous root (as the calibration calls
// it between optimiser iterations) and from initial_root's point; Core allocator calls
// per price are reported.
#include <benchmark/benchmark.h>

#include <memory>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Core/cpu_allocator.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"

namespace {

using namespace tarvex;

struct setup {
  const datetime today{2026, 1, 5};
  std::shared_ptr<const parameter_markovian_hjm> parameters;
  std::unique_ptr<model_markovian_hjm> model;
  std::unique_ptr<calibration_ir_hjm_swaption> target;
  double strike = 0.0;

  setup() {
    auto curve = std::make_shared<const interpolated_discount_curve>(
        today, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
        std::vector<double>{0.021, 0.028, 0.033});
    parameters = std::make_shared<const parameter_markovian_hjm>(
        matrix<double>{{0.03}}, matrix<double>{{0.009}}, matrix<double>{{1.0}}, std::vector<datetime>{today},
        std::vector<datetime>{today}, nullptr, parameter_markovian_hjm_type::mean_reversion);
    model = std::make_unique<model_markovian_hjm>(*parameters, today, std::vector<datetime>{}, true,
                                                  std::vector<datetime>{});
    const datetime start = datetime_helper::add_tenor(today, tenor("5Y"), 1);
    target = std::make_unique<calibration_ir_hjm_swaption>(curve, start,
                                                           datetime_helper::add_tenor(start, tenor("10Y"), 1),
                                                           tenor("1Y"), std::make_shared<const day_count_convention>());
    strike = target->swap_rate() + 0.005;
  }
};

void price(benchmark::State& state, bool warm) {
  setup s;
  vector<double> root, gradient(1), start;
  s.target->initial_root(root, s.strike, *s.model);
  if (warm) s.target->value(s.strike, *s.model, root, gradient, 20, 1e-10);
  start = root;
  const auto before = cpu_allocator::allocation_count();
  for (auto _ : state) {
    root = start;
    benchmark::DoNotOptimize(s.target->value(s.strike, *s.model, root, gradient, 20, 1e-10));
  }
  state.counters["allocations"] =
      benchmark::Counter(static_cast<double>(cpu_allocator::allocation_count() - before),
                         benchmark::Counter::kAvgIterations);
}

void from_previous_root(benchmark::State& state) { price(state, true); }
void from_initial_root(benchmark::State& state) { price(state, false); }
BENCHMARK(from_previous_root);
BENCHMARK(from_initial_root);

}  // namespace

BENCHMARK_MAIN();
