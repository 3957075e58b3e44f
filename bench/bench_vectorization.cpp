// Element-wise transcendental functions over 10^6 doubles: the expression layer
// (SIMD kernels, block evaluation) against a plain libm loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "Vectorization/vector.h"

namespace {

constexpr std::size_t n = 1'000'000;

tarvex::vector<double> inputs(double lo, double hi) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(lo, hi);
  tarvex::vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

template <class F>
void run(benchmark::State& state, double lo, double hi, F f) {
  const tarvex::vector<double> in = inputs(lo, hi);
  tarvex::vector<double> out(n);
  for (auto _ : state) {
    f(in, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}

void exp_expression(benchmark::State& s) {
  run(s, -5, 5, [](const auto& in, auto& out) { out = tarvex::exp(in); });
}
void exp_loop(benchmark::State& s) {
  run(s, -5, 5, [](const auto& in, auto& out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(in[i]);
  });
}
void expm1_expression(benchmark::State& s) {
  run(s, -5, 5, [](const auto& in, auto& out) { out = tarvex::expm1(in); });
}
void expm1_loop(benchmark::State& s) {
  run(s, -5, 5, [](const auto& in, auto& out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::expm1(in[i]);
  });
}
void log_expression(benchmark::State& s) {
  run(s, 1e-3, 1e3, [](const auto& in, auto& out) { out = tarvex::log(in); });
}
void log_loop(benchmark::State& s) {
  run(s, 1e-3, 1e3, [](const auto& in, auto& out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::log(in[i]);
  });
}

}  // namespace

BENCHMARK(exp_expression)->Unit(benchmark::kMillisecond);
BENCHMARK(exp_loop)->Unit(benchmark::kMillisecond);
BENCHMARK(expm1_expression)->Unit(benchmark::kMillisecond);
BENCHMARK(expm1_loop)->Unit(benchmark::kMillisecond);
BENCHMARK(log_expression)->Unit(benchmark::kMillisecond);
BENCHMARK(log_loop)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
