#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/diffusion/ir/discount_curve_diffusion.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/tests/testing.h"
#include "Market/interpolated_discount_curve.h"
#include "Random/random_type.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

std::shared_ptr<const discount_curve> humped_curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation,
      std::vector<datetime>{datetime(2026, 7, 5), datetime(2028, 1, 5), datetime(2031, 1, 5), datetime(2036, 1, 5),
                            datetime(2046, 1, 5)},
      std::vector<double>{0.025, 0.032, 0.036, 0.034, 0.03});
}

std::shared_ptr<const parameter_markovian_hjm> factors(std::size_t n) {
  const std::vector<double> k{0.03, 0.4, 1.2}, s{0.009, 0.007, 0.005};
  return constant_parameters({k.begin(), k.begin() + long(n)}, {s.begin(), s.begin() + long(n)},
                             uniform_correlation(n, 0.5));
}

std::shared_ptr<const random_config> config(random_type type, std::size_t paths, std::size_t dates,
                                            std::size_t brownians, std::size_t batch = 0) {
  return std::make_shared<const random_config>(type, 20261206, paths, dates, brownians, batch, false, false,
                                               random_type::philox, device_type::cpu);
}

matrix<double> identity(std::size_t n) { return uniform_correlation(n, 0.0); }

// Mean over paths of N(t) P(t, T) against today's P(0, T), at every date, for bonds
// maturing at and beyond the horizon: the deflated bond is a martingale.
void expect_martingale(random_type type, std::size_t n, std::size_t paths) {
  const auto dates = monthly_dates(21, 3);  // five years, quarterly
  const auto curve = humped_curve();
  auto rates = std::make_shared<const diffusion_ir_markovian_hjm>(dates, curve, factors(n));
  simulation_manager manager({rates}, {nullptr}, identity(n), config(type, paths, dates.size(), n), dates);
  manager.states_initialize();
  const auto sim = diffusion::diffusion_discount_curve(manager.data(0));
  vector<double> numeraire(paths), log_bond(paths);
  for (std::size_t k = 1; k < dates.size(); ++k) {
    manager.propagate(k);
    sim->discounting(numeraire, dates[k]);
    for (const datetime T : {dates.back(), datetime(2036, 1, 5), datetime(2045, 6, 5)}) {
      sim->log_df(log_bond, dates[k], T);
      double sum = 0.0, sum2 = 0.0;
      for (std::size_t p = 0; p < paths; ++p) {
        const double v = numeraire[p] * std::exp(log_bond[p]);
        sum += v;
        sum2 += v * v;
      }
      const double mean = sum / double(paths);
      const double se = std::sqrt((sum2 / double(paths) - mean * mean) / double(paths - 1));
      const double today = curve->df(valuation, T);
      // Guards against a generator that hands out zeros: the check would hold trivially.
      ASSERT_GT(se, 1e-5 * today) << "type " << int(type) << ", date " << k;
      EXPECT_LE(std::abs(mean - today), 3.0 * se + 1e-15)
          << "type " << int(type) << ", " << n << " factors, date " << k << ", T " << T.to_string();
    }
  }
}

TEST(simulation_manager, deflated_bonds_are_martingales_for_every_generator) {
  for (random_type type : {random_type::philox, random_type::mersenne_twister, random_type::threefry,
                           random_type::philox_upfront, random_type::sobol, random_type::sobol_brownian_bridge})
    for (std::size_t n = 1; n <= 3; ++n) expect_martingale(type, n, 8192);
}

TEST(simulation_manager, initial_numeraire_is_one_and_batches_are_slices_of_one_run) {
  const auto dates = monthly_dates(13, 1);
  auto rates = std::make_shared<const diffusion_ir_markovian_hjm>(dates, humped_curve(), factors(3));
  const auto correlation = uniform_correlation(3, 0.3);
  for (random_type type : {random_type::philox, random_type::threefry}) {
    simulation_manager whole({rates}, {nullptr}, correlation, config(type, 10000, dates.size(), 3), dates);
    whole.states_initialize();
    vector<double> out(10000);
    diffusion::diffusion_discount_curve(whole.data(0))->discounting(out, dates[0]);
    for (double v : out) ASSERT_EQ(v, 1.0);

    std::vector<std::unique_ptr<simulation_manager>> batches;
    for (std::size_t b = 0; b < 4; ++b) {
      batches.push_back(std::make_unique<simulation_manager>(std::vector<std::shared_ptr<const diffusion>>{rates},
                                                             std::vector<std::shared_ptr<const change_of_measure>>{nullptr},
                                                             correlation, config(type, 2500, dates.size(), 3, b), dates));
      batches.back()->states_initialize();
    }
    for (std::size_t k = 1; k < dates.size(); ++k) {
      whole.propagate(k);
      const auto& big = static_cast<const discount_curve_diffusion&>(*whole.data(0)).states();
      for (std::size_t b = 0; b < 4; ++b) {
        batches[b]->propagate(k);
        const auto& small = static_cast<const discount_curve_diffusion&>(*batches[b]->data(0)).states();
        for (std::size_t row = 0; row < 4; ++row)
          for (std::size_t p = 0; p < 2500; ++p)
            ASSERT_EQ(small(row, p), big(row, b * 2500 + p)) << "step " << k << " row " << row << " path " << p;
      }
    }
  }
}

// Records the draws it is handed; otherwise an HJM diffusion.
struct recording_hjm : diffusion_ir_markovian_hjm {
  using diffusion_ir_markovian_hjm::diffusion_ir_markovian_hjm;
  mutable std::vector<matrix<double>> seen;
  void propagate(matrix<double>& s, matrix<double>& sp, std::uint64_t k, const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& m) const override {
    seen.push_back(draws);  // a deep copy
    diffusion_ir_markovian_hjm::propagate(s, sp, k, draws, m);
  }
};

TEST(simulation_manager, factor_rows_land_on_their_diffusion_with_the_given_correlation) {
  const auto dates = monthly_dates(5, 1);
  const auto curve = humped_curve();
  auto two = std::make_shared<const recording_hjm>(dates, curve, factors(2));
  auto one = std::make_shared<const recording_hjm>(dates, curve, factors(1));
  matrix<double> rho(3, 3);
  const double values[9] = {1.0, 0.6, -0.4, 0.6, 1.0, 0.2, -0.4, 0.2, 1.0};
  for (std::size_t i = 0; i < 9; ++i) rho.data()[i] = values[i];
  const std::size_t paths = 40000;
  simulation_manager manager({two, one}, {nullptr, nullptr}, rho, config(random_type::philox, paths, dates.size(), 3),
                             dates);
  manager.states_initialize();
  for (std::size_t k = 1; k < dates.size(); ++k) manager.propagate(k);
  ASSERT_EQ(two->seen.size(), dates.size() - 1);
  for (std::size_t k = 0; k + 1 < dates.size(); ++k) {
    ASSERT_EQ(two->seen[k].rows(), 2u);
    ASSERT_EQ(one->seen[k].rows(), 1u);
    const double* rows[3] = {two->seen[k].row_data(0), two->seen[k].row_data(1), one->seen[k].row_data(0)};
    for (std::size_t a = 0; a < 3; ++a)
      for (std::size_t b = 0; b < 3; ++b) {
        double sab = 0.0;
        for (std::size_t p = 0; p < paths; ++p) sab += rows[a][p] * rows[b][p];
        // The sample second moment of unit normals has standard error sqrt((1 + rho^2) / P).
        const double r = rho(a, b), se = std::sqrt((1.0 + r * r) / double(paths));
        EXPECT_NEAR(sab / double(paths), r, 4.0 * se) << "step " << k << " rows " << a << ", " << b;
      }
  }
}

matrix<double> two_by_two(double diagonal, double upper, double lower) {
  matrix<double> c(2, 2);
  c(0, 0) = 1.0, c(1, 1) = diagonal, c(0, 1) = upper, c(1, 0) = lower;
  return c;
}

TEST(simulation_manager, refuses_inconsistent_inputs) {
  const auto dates = monthly_dates(5, 1);
  auto rates = std::make_shared<const diffusion_ir_markovian_hjm>(dates, humped_curve(), factors(2));
  auto build = [&](const matrix<double>& c, std::size_t brownians, random_type t = random_type::philox,
                   std::size_t config_dates = 5) {
    simulation_manager m({rates}, {nullptr}, c, config(t, 10, config_dates, brownians), dates);
  };
  EXPECT_THROW(build(identity(3), 2), Error);
  EXPECT_THROW(build(identity(2), 3), Error);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { build(two_by_two(1.0, 1.5, 1.5), 2); },
       "simulation_manager: the correlation of the 2 factors is not positive definite"},
      {[&] { build(two_by_two(1.0, 1.0, 1.0), 2); },
       "simulation_manager: the correlation of the 2 factors is not positive definite"},
      // Cholesky reads the lower triangle only: these would simulate another matrix.
      {[&] { build(two_by_two(1.0, 0.5, 0.3), 2); },
       "simulation_manager: correlation entries (1, 0) = 0.3 and (0, 1) = 0.5 differ, expected a symmetric matrix"},
      {[&] { build(two_by_two(4.0, 0.5, 0.5), 2); },
       "simulation_manager: correlation entry (1, 1) is 4, expected 1 on the diagonal"},
      {[&] { build(identity(2), 2, random_type::sobol, 4); },
       "simulation_manager: the random configuration has 4 simulation dates, the simulation 5"},
      {[&] { build(identity(2), 2, random_type::philox, 6); },
       "simulation_manager: the random configuration has 6 simulation dates, the simulation 5"},
  };
  for (const auto& [f, text] : cases) EXPECT_EQ(testing::error_text(f), text);
}

TEST(simulation_manager, steps_run_in_order_from_the_initial_states) {
  const auto dates = monthly_dates(5, 1);
  auto rates = std::make_shared<const diffusion_ir_markovian_hjm>(dates, humped_curve(), factors(2));
  simulation_manager m({rates}, {nullptr}, identity(2), config(random_type::philox_upfront, 10, 5, 2), dates);
  auto text = [&](std::size_t step) { return testing::error_text([&] { m.propagate(step); }); };
  EXPECT_EQ(text(1), "simulation_manager: propagate(1) before states_initialize()");
  m.states_initialize();
  EXPECT_EQ(text(0), "simulation_manager: propagate(0) out of order, expected propagate(1)");
  EXPECT_EQ(text(2), "simulation_manager: propagate(2) out of order, expected propagate(1)");
  for (std::size_t k = 1; k < dates.size(); ++k) m.propagate(k);
  EXPECT_EQ(text(4), "simulation_manager: propagate(4) out of order, expected propagate(5)");
  EXPECT_EQ(text(5), "simulation_manager: propagate(5) after the last date index 4");

  // The simulated curve answers at its current date only, forwards in time.
  const auto curve = diffusion::diffusion_discount_curve(m.data(0));
  vector<double> out(10), again(10);
  curve->log_df(out, dates[4], dates[4]);
  EXPECT_EQ(testing::error_text([&] { curve->log_df(out, dates[3], dates[4]); }),
            "simulated discount curve is at 2026-05-05, asked at 2026-04-05");
  EXPECT_EQ(testing::error_text([&] { curve->discounting(out, dates[1]); }),
            "simulated discount curve is at 2026-05-05, asked at 2026-02-05");
  EXPECT_EQ(testing::error_text([&] { curve->log_df(out, dates[4], dates[2]); }),
            "simulated discount curve asked from 2026-05-05 to 2026-03-05, an end before its start");

  // Initialising again restarts at the initial date; up-front draws give the same run.
  curve->log_df(out, dates[4], datetime(2036, 1, 5));
  m.states_initialize();
  curve->discounting(again, dates[0]);
  for (double v : again) ASSERT_EQ(v, 1.0);
  for (std::size_t k = 1; k < dates.size(); ++k) m.propagate(k);
  curve->log_df(again, dates[4], datetime(2036, 1, 5));
  for (std::size_t p = 0; p < 10; ++p) EXPECT_EQ(again[p], out[p]) << p;
}

}  // namespace
}  // namespace tarvex
