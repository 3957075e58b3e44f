// Random library throughput in standard normals per second: per-step fills of the
// counter-based and Mersenne Twister generators (B = 3 factors, P = 10,000 paths, as a
// simulation step asks for them), the up-front Sobol fills, and the inverse normal
// alone on each instruction set. Allocations in the timed loops are counted through
// the Core allocator (expected: zero for per-step fills).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "Core/cpu_allocator.h"
#include "Random/inverse_cumulative_normal.h"
#include "Random/random.h"
#include "Random/random_settings.h"

namespace {

using namespace tarvex;

constexpr std::size_t paths = 10000, factors = 3;

std::shared_ptr<const random_settings> settings(std::size_t dates, bool shift = false) {
  return std::make_shared<const random_settings>(42, paths, dates, factors, 1, false, random_type::philox, shift,
                                                 device_type::cpu, false);
}

void per_step_fill(benchmark::State& state, random_type type) {
  auto g = tarvex::random::random_generator_factory(type, settings(2));
  std::vector<double> buffer(paths * factors);
  const auto before = cpu_allocator::allocation_count();
  for (auto _ : state) {
    g->fill(buffer.data(), buffer.size(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
  state.counters["allocations"] = static_cast<double>(cpu_allocator::allocation_count() - before);
}

// Construction included: an up-front generator fills once in its life.
void upfront_fill(benchmark::State& state, random_type type) {
  const std::size_t dates = 61;
  const auto s = settings(dates, true);
  std::vector<double> buffer(dates * paths * factors);
  for (auto _ : state) {
    auto g = tarvex::random::random_generator_factory(type, s);
    g->fill(buffer.data(), buffer.size(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}

void inverse_normal(benchmark::State& state, simd_level level) {
  if (!simd_level_supported(level)) {
    state.SkipWithError("level not supported by this cpu");
    return;
  }
  std::vector<double> u(paths * factors), x(u.size());
  std::mt19937_64 rng(1);
  for (double& v : u) v = (static_cast<double>(rng() >> 12) + 0.5) * 0x1p-52;
  for (auto _ : state) {
    inverse_cumulative_normal(level, u.data(), x.data(), u.size());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * u.size()));
}

BENCHMARK_CAPTURE(per_step_fill, philox, random_type::philox);
BENCHMARK_CAPTURE(per_step_fill, threefry, random_type::threefry);
BENCHMARK_CAPTURE(per_step_fill, mersenne_twister, random_type::mersenne_twister);
BENCHMARK_CAPTURE(upfront_fill, philox_upfront, random_type::philox_upfront)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(upfront_fill, sobol, random_type::sobol)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(upfront_fill, sobol_brownian_bridge, random_type::sobol_brownian_bridge)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(inverse_normal, scalar, simd_level::scalar);
BENCHMARK_CAPTURE(inverse_normal, avx2, simd_level::avx2);
BENCHMARK_CAPTURE(inverse_normal, avx512, simd_level::avx512);

}  // namespace

BENCHMARK_MAIN();
