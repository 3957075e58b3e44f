// The Cheyette smile calibration: one 7-strike smile of a 10Y swap (values), and a
// 10-expiry co-terminal smile calibration, 7 strikes each, from a start away from the
// smiles' own parameters. Runs on the calling thread (the calibration is serial).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"

namespace {

using namespace tarvex;

const datetime today(2026, 1, 5);
const auto act365 = std::make_shared<const day_count_convention>();
const std::vector<double> offsets{-0.02, -0.01, -0.005, 0.0, 0.005, 0.01, 0.02};

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      today, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

void smile_values(benchmark::State& state) {
  const datetime expiry = datetime_helper::add_tenor(today, tenor("5Y"), 1);
  const calibration_ir_cheyette_swaption target(true, curve(), expiry, datetime_helper::add_tenor(expiry, tenor("10Y"), 1),
                                                tenor("1Y"), act365, offsets, true);
  const auto hjm = std::make_shared<const parameter_markovian_hjm>(
      matrix<double>(1, 1, 0.02), matrix<double>(1, 1, 0.01), matrix<double>(1, 1, 1.0), std::vector<datetime>{today},
      std::vector<datetime>{today}, act365, parameter_markovian_hjm_type::mean_reversion);
  const parameter_cheyette p(hjm, matrix<double>(1, 1, 10.0), std::vector<datetime>{today}, -5.0);
  const std::vector<datetime> dates{today, expiry};
  const auto model = std::make_shared<const model_cheyette>(p, today, dates, false, false);
  const double t = model->variance(expiry);
  std::vector<double> out;
  for (auto _ : state) {
    out.clear();
    target.values(out, model, t);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(smile_values)->Unit(benchmark::kMicrosecond);

void coterminal_calibration(benchmark::State& state) {
  std::vector<tenor> expiries;
  for (int y = 1; y <= 10; ++y) expiries.emplace_back(std::to_string(y) + "Y");
  const auto targets = std::make_shared<const calibration_ir_targets_configuration>(
      tenor("1Y"), std::move(expiries), tenor("11Y"), std::vector<tenor>{},
      std::vector<std::vector<double>>(10, offsets), false, true, false);
  const calibration_ir_hjm grids(today, curve(), targets, act365);
  const calibration_ir_cheyette c(today, curve(), targets, act365);
  auto hjm = [&](double sigma) {
    return std::make_shared<const parameter_markovian_hjm>(
        matrix<double>(grids.maturity_dates().size(), 1, 0.03), matrix<double>(10, 1, sigma), matrix<double>(1, 1, 1.0),
        grids.maturity_dates(), grids.expiry_dates(), act365, parameter_markovian_hjm_type::mean_reversion);
  };
  // Smiles of skews 10 .. 5.5 and an 80 bp volatility, in a cube as the calibration reads it.
  const auto truth_hjm = hjm(0.008);
  matrix<double> skew(10, 1);
  for (int k = 0; k < 10; ++k) skew(k, 0) = 10.0 - 0.5 * k;
  const parameter_cheyette truth(truth_hjm, skew, truth_hjm->volatilities_dates(), -5.0);
  std::vector<datetime> dates{today};
  for (const auto& d : truth_hjm->volatilities_dates()) dates.push_back(d);
  const auto model = std::make_shared<const model_cheyette>(truth, today, dates, true, false);
  std::vector<double> e, tenors, vols;
  std::vector<std::vector<double>> smiles;
  for (const auto& s : c.swaptions()) {
    e.push_back(s->swaptions()->swap()->expiry_double());
    tenors.insert(tenors.begin(), s->swaptions()->swap()->tenor_double());
    smiles.emplace_back();
    s->values(smiles.back(), model, model->variance(s->expiry()));
  }
  for (std::size_t i = 0; i < e.size(); ++i)
    for (std::size_t j = 0; j < tenors.size(); ++j) vols.insert(vols.end(), smiles[i].begin(), smiles[i].end());
  const auto cube = std::make_shared<const ir_volatility_surface>(today, e, tenors, vols, offsets);
  const auto settings = std::make_shared<const calibration_cheyette_settings>(
      std::vector<double>{0.0001, 0.05}, std::vector<double>{-0.2, 0.5}, std::vector<double>{-40.0, 40.0},
      parameter_markovian_hjm_type::mean_reversion, false, 200, 1e-8);
  for (auto _ : state) {
    calibration_ir_cheyette_report report;
    const auto fitted = c.calibrate(cube, settings, hjm(0.01), report);
    state.counters["rms_bp"] = report.rms_bp;
    state.counters["iterations"] = static_cast<double>(report.optimiser.iterations);
    benchmark::DoNotOptimize(fitted.get());
  }
}
BENCHMARK(coterminal_calibration)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
