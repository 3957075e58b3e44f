#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Analytics/pde/tests/bk_solver_harness.h"
#include "Core/cpu_allocator.h"

namespace tarvex {
namespace {

using namespace bk_testing;

// Levels 2% then 4% after 3 years; pillars at 0, 3, 10 years.
std::shared_ptr<parameter_black_karasinski> three_pillars(double kappa, double sigma) {
  return with_levels(hjm_part(kappa, sigma, 0.7), {valuation, datetime(2029, 1, 5), datetime(2036, 1, 5)},
                     {0.02, 0.04, 0.04});
}

// Independent reference: exact OU transitions of y = g x on daily steps, trapezoid on
// the intensity; mean and standard error of exp(-int r) to 10 years.
std::pair<double, double> monte_carlo(double kappa, double sigma, std::size_t paths) {
  std::mt19937_64 engine(3);
  std::normal_distribution<double> normal;
  const int days = 3653;
  const double d = 1.0 / 365, five = 1826.0;
  double sum = 0.0, sum2 = 0.0;
  for (std::size_t p = 0; p < paths; ++p) {
    double y = 0.0, integral = 0.0;
    for (int i = 1; i <= days; ++i) {
      const double s = i <= five ? sigma : 0.7 * sigma;
      const double sd = kappa > 0 ? s * std::sqrt(-std::expm1(-2 * kappa * d) / (2 * kappa)) : s * std::sqrt(d);
      const double l = std::log(i - 1 < 1096 ? 0.02 : 0.04);
      const double next = y * std::exp(-kappa * d) + sd * normal(engine);
      integral += 0.5 * d * (std::exp(l + y) + std::exp(l + next));
      y = next;
    }
    const double q = std::exp(-integral);
    sum += q;
    sum2 += q * q;
  }
  const double mean = sum / paths;
  return {mean, std::sqrt((sum2 / paths - mean * mean) / (paths - 1))};
}

TEST(black_karasinski_pde_solver, both_modes_match_monte_carlo_and_the_model) {
  for (const auto& [kappa, sigma] : {std::pair{0.0, 0.5}, std::pair{0.3, 1.0}}) {
    const auto [mean, se] = monte_carlo(kappa, sigma, 4000);
    double by_mode[2];
    for (bool backward : {true, false}) {
      solver_setup s(three_pillars(kappa, sigma), *solver_settings(backward, 201, 7.0));
      const double q = s.survival(2);
      by_mode[backward] = q;
      EXPECT_LE(std::fabs(q - mean), 3 * se) << kappa << " " << sigma << " backward " << backward << " mc " << mean;
      // The model's conditional price (Gauss–Hermite steps) at x = 0.
      matrix<double> zero(2, 1);
      vector<double> out(1);
      s.model->conditional_price(zero, valuation, datetime(2036, 1, 5), out);
      EXPECT_NEAR(q, std::exp(out[0]), 2e-4) << kappa << " " << sigma << " backward " << backward;
    }
    EXPECT_NEAR(by_mode[0], by_mode[1], 2e-4) << kappa << " " << sigma;
  }
}

TEST(black_karasinski_pde_solver, second_order_in_time_step_and_spacing_together) {
  // Errors against a fine run: (28 days, 51 nodes), (14, 101), (7, 201).
  for (double kappa : {0.0, 0.2}) {
    const auto value = [&](double days, std::uint64_t nodes) {
      solver_setup s(three_pillars(kappa, 0.8), *solver_settings(true, nodes, days));
      return s.survival(2);
    };
    const double fine = value(1.0, 1601);
    const double e1 = value(28.0, 51) - fine, e2 = value(14.0, 101) - fine, e3 = value(7.0, 201) - fine;
    EXPECT_NEAR(e1 / e2, 4.0, 1.0) << kappa << ": " << e1 << " " << e2 << " " << e3;
    EXPECT_NEAR(e2 / e3, 4.0, 1.0) << kappa << ": " << e1 << " " << e2 << " " << e3;
  }
}

TEST(black_karasinski_pde_solver, large_steps_keep_a_step_function_monotone_and_non_negative) {
  solver_setup s(three_pillars(0.1, 1.0), *solver_settings(true, 201, 365.0));
  s.solver->update_states(std::sqrt(s.model->variance(datetime(2036, 1, 5))));
  vector<double> u(s.solver->size());
  for (std::size_t j = 0; j < u.size(); ++j) u[j] = s.solver->states()[j] < 0.0 ? 1.0 : 0.0;
  s.solver->initial_result(u);
  s.solver->survival_probability(2, false);
  EXPECT_EQ(s.solver->result().data(), u.data());  // rolled in the caller's vector
  // The amplification tends to 0 from below for stiff modes: what the jump leaves is
  // a trace of order 1/|z|, not an oscillation (Crank–Nicolson would keep -1 of it).
  for (std::size_t j = 0; j < u.size(); ++j) {
    EXPECT_GE(u[j], -1e-6) << j;
    EXPECT_LE(u[j], 1.0) << j;
    if (j > 0) {
      EXPECT_LE(u[j], u[j - 1] + 1e-6) << j;
    }
  }
}

TEST(black_karasinski_pde_solver, grid_sizes_boundary_rows_and_the_first_date) {
  EXPECT_EQ(solver_setup(three_pillars(0.1, 0.5), *solver_settings(true, 100, 7.0)).solver->size(), 101u);
  EXPECT_EQ(solver_setup(three_pillars(0.1, 0.5), *solver_settings(false, 100, 7.0)).solver->size(), 100u);
  for (bool backward : {true, false}) {
    solver_setup s(three_pillars(0.1, 0.5), *solver_settings(backward, 101, 7.0));
    EXPECT_EQ(s.solver->levels_dates_index()[0], 0u);
    EXPECT_EQ(s.survival(0), 1.0);
    EXPECT_EQ(s.solver->time_grid().front(), valuation);
    EXPECT_EQ(s.solver->time_grid()[s.solver->levels_dates_index()[1]], datetime(2029, 1, 5));
  }
  // Solves allocate nothing: every buffer was sized in the constructor.
  for (bool backward : {true, false}) {
    solver_setup s(three_pillars(0.1, 0.5), *solver_settings(backward, 101, 7.0));
    s.survival(1);
    const auto allocations = cpu_allocator::allocation_count();
    s.solver->survival_probability(2, true);
    s.solver->survival_probability(1, true);
    EXPECT_EQ(cpu_allocator::allocation_count(), allocations) << backward;
  }
  // Zero rate: rows 0 and n-1 keep their values through every step.
  solver_setup s(three_pillars(0.1, 0.5), *solver_settings(true, 51, 7.0));
  for (double& l : s.levels) l = -800.0;  // exp(-800) == 0
  s.solver->update_states(0.4);
  vector<double> u(51);
  for (std::size_t j = 0; j < 51; ++j) u[j] = 0.3 + 0.01 * double(j * j % 7);
  const double first = u[0], last = u[50];
  s.solver->initial_result(u);
  s.solver->survival_probability(2, false);
  // Up to the rounding of (1 + sqrt2) u - sqrt2 u over 521 steps; a neighbour would
  // pull them by 1e-2.
  EXPECT_NEAR(u[0], first, 1e-13);
  EXPECT_NEAR(u[50], last, 1e-13);
  EXPECT_NE(u[1], 0.3 + 0.01);
}

TEST(black_karasinski_pde_solver, forward_checkpoint_gives_the_numbers_of_a_fresh_roll) {
  const auto settings = solver_settings(false, 101, 7.0);
  solver_setup kept(three_pillars(0.1, 0.5), *settings);
  kept.solver->update_states(0.9);
  // Root-search pattern: level 1 varies, then level 0 changes (the checkpoint is stale).
  for (const auto& [index, value] : {std::pair{1, -3.0}, std::pair{1, -2.5}, std::pair{0, -4.5}, std::pair{1, -2.0}}) {
    kept.levels[std::size_t(index)] = value;
    const double q = kept.solver->survival_probability(2, true);
    solver_setup fresh(three_pillars(0.1, 0.5), *settings);
    fresh.levels = kept.levels;
    fresh.solver->update_states(0.9);
    EXPECT_EQ(q, fresh.solver->survival_probability(2, true)) << index << " " << value;
  }
}

}  // namespace
}  // namespace tarvex
