#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Analytics/diffusion/tests/cross_asset_run.h"
#include "Market/discount_curve.h"
#include "Market/equity_spot.h"
#include "Market/survival_curve.h"
#include "Util/datetime_helper.h"
#include "Util/tenor.h"

namespace {

using namespace tarvex;
using namespace tarvex::cross_asset_testing;

constexpr std::size_t paths = 10000, steps = 120;

std::vector<datetime> monthly() {
  std::vector<datetime> dates;
  for (std::size_t k = 0; k <= steps; ++k)
    dates.push_back(datetime_helper::add_tenor(valuation, tenor(std::to_string(k) + "M"), 1));
  return dates;
}

// The five-diffusion two-currency run end to end: construction of the manager, draws,
// correlation, every diffusion's step, and per date the market data a pricer reads
// (both numeraires, FX and equity spots, survival probabilities).
void BM_five_diffusion_run(benchmark::State& state) {
  const auto s = five_diffusions(monthly(), state.range(0) == 0 ? credit_model::hjm : credit_model::cir, true);
  const std::size_t factors = s.correlation.rows();
  vector<double> out(paths);
  for (auto _ : state) {
    auto m = make_manager(s, paths);
    m->states_initialize();
    const auto dom = diffusion::diffusion_discount_curve(m->data(0));
    const auto fgn = diffusion::diffusion_discount_curve(m->data(1));
    const auto fx = diffusion::diffusion_fx_spot(m->data(2));
    const auto eq = diffusion::diffusion_equity_spot(m->data(3));
    const auto credit = diffusion::diffusion_survival_curve(m->data(4));
    for (std::size_t k = 1; k <= steps; ++k) {
      m->propagate(k);
      dom->discounting(out, s.dates[k]);
      fgn->discounting(out, s.dates[k]);
      credit->survival_probability(out, s.dates[k]);
      benchmark::DoNotOptimize(fx->spots().data());
      benchmark::DoNotOptimize(eq->spots().data());
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["path_factor_steps/s"] =
      benchmark::Counter(double(paths * factors * steps) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_five_diffusion_run)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
