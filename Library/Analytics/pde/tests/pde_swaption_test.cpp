#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/pde/tests/pde_hjm_testing.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using namespace pde_testing;

constexpr double bp = 1e-4;

// Closed-form payer price of the HJM calibration instrument; receivers by parity.
double closed_form(const std::shared_ptr<const parameter_markovian_hjm>& p, const interest_rate_swap& swap,
                   double strike, bool payer) {
  const model_markovian_hjm model(*p, today, {}, true, {});
  const calibration_ir_hjm_swaption target(
      std::make_shared<const interest_rate_swap>(swap.curve(), swap.start(), swap.end(), swap.frequency(), nullptr));
  vector<double> root, gradient;
  target.initial_root(root, strike, model);
  const double price = target.value(strike, model, root, gradient, 50, 1e-14);
  return payer ? price : price - swap.value(strike, swap.dfs());
}

TEST(pde_swaption, european_prices_match_the_closed_form) {
  // 0.05 bp of notional; with one factor the closed form is exact, with more its
  // hyperplane boundary is exact to the boundary's curvature. Measured: within 0.005 bp
  // (one factor, 801 nodes, 3-day steps), 0.027 bp (two, 201 x 201, weekly).
  const auto c = upward_curve();
  struct row {
    std::shared_ptr<const parameter_markovian_hjm> p;
    int expiry, end;
    std::size_t points;
    double step;
  };
  for (const row& r : {row{hjm({0.05}, {0.01}), 5, 10, 801, 3.0}, row{hjm({0.02, 0.6}, {0.008, 0.006}, -0.5), 2, 7, 201, 7.0}}) {
    const auto swaps = underlyings(c, r.expiry, r.expiry, r.end);
    const double atm = swaps[0]->swap_rate();
    for (const double strike : {atm - 0.01, atm, atm + 0.01})
      for (const bool payer : {true, false}) {
        const auto option = std::make_shared<const pde_swaption>(payer, 1.0, strike, swaps);
        const double pde = pde_price(r.p, c, option, r.points, r.step).price;
        const double expected = closed_form(r.p, *swaps[0], strike, payer);
        EXPECT_NEAR(pde, expected, 0.05 * bp) << r.p->number_of_factors() << " " << strike << " " << payer;
      }
  }
}

// Hull-White trinomial tree (Hull and White 1994, with steps fitted to the exercise
// dates), written independently of the model: r = x + phi(t), x an Ornstein-Uhlenbeck
// state from 0, phi fitted by forward induction so that the tree reprices today's curve
// on its dates; at an exercise the bonds are the textbook closed form in x,
// ln P(t, T) = ln(P(0, T) / P(0, t)) - B x - sigma^2 (1 - e^{-2at}) B^2 / (4a)
//              - B sigma^2 (1 - e^{-at})^2 / (2 a^2),   B = (1 - e^{-a(T - t)}) / a.
double hull_white_tree(double a, double sigma, const std::shared_ptr<const discount_curve>& c,
                       const std::vector<std::shared_ptr<const interest_rate_swap>>& swaps, double strike, bool payer,
                       double dt) {
  const auto t_of = [](const datetime& d) { return (d.value() - today.value()) / 365.0; };
  std::vector<double> times{0.0};
  std::vector<int> exercise_at;  // tree index of each exercise
  for (const auto& s : swaps) {
    const double t1 = t_of(s->start()), t0 = times.back();
    const int m = std::max(3, static_cast<int>(std::ceil((t1 - t0) / dt)));
    for (int i = 1; i <= m; ++i) times.push_back(i == m ? t1 : t0 + (t1 - t0) * i / m);
    exercise_at.push_back(static_cast<int>(times.size()) - 1);
  }
  const std::size_t steps = times.size() - 1;
  double dt_max = 0.0;
  for (std::size_t i = 0; i < steps; ++i) dt_max = std::max(dt_max, times[i + 1] - times[i]);
  const double dx = sigma * std::sqrt(3.0 * dt_max);
  const double sd = sigma * std::sqrt(-std::expm1(-2 * a * times.back()) / (2 * a));
  const int J = static_cast<int>(std::ceil(7.0 * sd / dx)) + 1, width = 2 * J + 1;
  const auto P0 = [&](double t) { return c->df(today, datetime(today.value() + 365.0 * t)); };
  // Branching per step and node: centre k and probabilities (down, middle, up).
  struct branch {
    int k;
    double pd, pm, pu;
  };
  const auto branch_at = [&](std::size_t i, int j) {
    const double h = times[i + 1] - times[i], v = sigma * sigma * -std::expm1(-2 * a * h) / (2 * a);
    const double mean = j * dx * std::exp(-a * h);
    const int k = std::clamp(static_cast<int>(std::lround(mean / dx)), -J + 1, J - 1);
    const double eta = (mean - k * dx) / dx, w = v / (dx * dx);
    return branch{k, 0.5 * (w + eta * eta - eta), 1.0 - w - eta * eta, 0.5 * (w + eta * eta + eta)};
  };
  std::vector<double> phi(steps), q(width, 0.0), next(width);
  q[J] = 1.0;
  for (std::size_t i = 0; i < steps; ++i) {
    const double h = times[i + 1] - times[i];
    double sum = 0.0;
    for (int j = -J; j <= J; ++j) sum += q[j + J] * std::exp(-j * dx * h);
    phi[i] = std::log(sum / P0(times[i + 1])) / h;
    std::fill(next.begin(), next.end(), 0.0);
    for (int j = -J; j <= J; ++j) {
      const branch br = branch_at(i, j);
      const double m = q[j + J] * std::exp(-(j * dx + phi[i]) * h);
      next[br.k - 1 + J] += m * br.pd;
      next[br.k + J] += m * br.pm;
      next[br.k + 1 + J] += m * br.pu;
    }
    q.swap(next);
  }
  const auto exercise = [&](std::size_t e, double x) {
    const auto& s = *swaps[e];
    const double t = times[exercise_at[e]];
    std::vector<double> dfs;
    for (const auto& d : s.all_dates()) {
      const double T = t_of(d), B = -std::expm1(-a * (T - t)) / a;
      dfs.push_back(P0(T) / P0(t) *
                    std::exp(-B * x - sigma * sigma * -std::expm1(-2 * a * t) * B * B / (4 * a) -
                             B * sigma * sigma * std::pow(std::expm1(-a * t), 2) / (2 * a * a)));
    }
    return std::max((payer ? 1.0 : -1.0) * s.value(strike, dfs), 0.0);
  };
  std::vector<double> value(width, 0.0);
  std::size_t e = swaps.size();
  for (std::size_t i = steps + 1; i-- > 0;) {
    if (i < steps) {
      const double h = times[i + 1] - times[i];
      for (int j = -J; j <= J; ++j) {
        const branch br = branch_at(i, j);
        next[j + J] = std::exp(-(j * dx + phi[i]) * h) *
                      (br.pd * value[br.k - 1 + J] + br.pm * value[br.k + J] + br.pu * value[br.k + 1 + J]);
      }
      value.swap(next);
    }
    if (e > 0 && static_cast<int>(i) == exercise_at[e - 1]) {
      --e;
      for (int j = -J; j <= J; ++j) value[j + J] = std::max(value[j + J], exercise(e, j * dx));
    }
  }
  return value[J];
}

TEST(pde_swaption, three_factor_european_converges_to_the_closed_form) {
  // Craig-Sneyd in three dimensions, 2Y into 5Y, on +-4 standard deviations. The space
  // error is second order and smooth: halving the spacing divides it by about 4 (measured
  // 3.74 at the money, where it is largest: -0.53 bp on 21 nodes a factor, -0.14 bp on
  // 41), so the Richardson value (4 P_41 - P_21) / 3 carries the time error (two-week
  // steps) and the closed form's hyperplane error only: measured within 0.013 bp. A raw
  // price within 0.05 bp needs about 71 nodes a factor, too slow for a unit test.
  const auto c = upward_curve();
  const auto p = three_factor_hjm();
  const auto swaps = underlyings(c, 2, 2, 7);
  const double atm = swaps[0]->swap_rate();
  struct row {
    bool payer;
    double strike;
  };
  for (const row& r : {row{true, atm}, row{false, atm - 0.01}}) {
    const auto option = std::make_shared<const pde_swaption>(r.payer, 1.0, r.strike, swaps);
    const double expected = closed_form(p, *swaps[0], r.strike, r.payer);
    const double coarse = pde_price(p, c, option, 21, 14.0, false, 4.0, 1.5).price - expected;
    const double fine = pde_price(p, c, option, 41, 14.0, false, 4.0, 1.5).price - expected;
    EXPECT_NEAR(fine, 0.0, 0.2 * bp) << r.payer << " " << r.strike;
    EXPECT_NEAR((4.0 * fine - coarse) / 3.0, 0.0, 0.05 * bp) << r.payer << " " << r.strike;
    if (r.strike == atm) {
      EXPECT_NEAR(coarse / fine, 4.0, 0.5) << coarse << " " << fine;
    }
  }
}

TEST(pde_swaption, one_factor_bermudans_match_a_hull_white_tree) {
  // 0.1 bp of notional (measured within 0.025 bp, 0.004 bp at kappa = 1.5). The tree
  // (1000 steps a year) wobbles by about 0.01 bp as its nodes pass the strike; the PDE
  // runs on 401 nodes stretched towards today's state and 2-day steps. At kappa = 1.5
  // the undecayed state is e^12 times wider at the last exercise than at the first:
  // the decayed variable keeps both on one grid.
  const auto c = upward_curve();
  const double sigma = 0.01;
  struct row {
    double a;
    int first;
    double moneyness;
  };
  for (const row& r : {row{0.05, 1, 0.0}, row{0.05, 5, 0.0}, row{0.05, 1, -0.02}, row{0.05, 1, 0.02},
                       row{1.5, 1, 0.0}, row{1.5, 1, 0.005}})
    for (const bool payer : {true, false}) {
      const auto p = hjm({r.a}, {sigma});
      const auto swaps = underlyings(c, r.first, 9, 10);
      const double strike = swaps[0]->swap_rate() + r.moneyness;
      const auto option = std::make_shared<const pde_swaption>(payer, 1.0, strike, swaps);
      const double pde = pde_price(p, c, option, 401, 2.0, false, 6.0, 3.0).price;
      const double tree = hull_white_tree(r.a, sigma, c, swaps, strike, payer, 1.0 / 1000);
      EXPECT_NEAR(pde, tree, 0.1 * bp) << r.a << " " << r.first << "NC " << r.moneyness << " " << payer;
    }
}

TEST(pde_swaption, two_factor_bermudan_reduces_to_one_factor) {
  // A second factor with a negligible volatility leaves the one-factor price (ADI and
  // Crank-Nicolson on the same first axis).
  const auto c = upward_curve();
  const auto swaps = underlyings(c, 1, 9, 10);
  const double strike = swaps[0]->swap_rate();
  const auto option = std::make_shared<const pde_swaption>(true, 1.0, strike, swaps);
  const double one = pde_price(hjm({0.05}, {0.01}), c, option, 101, 7.0, false, 6.0, 3.0).price;
  const double two = pde_price(hjm({0.05, 0.3}, {0.01, 1e-6}, -0.4), c, option, 101, 7.0, false, 6.0, 3.0).price;
  EXPECT_NEAR(two, one, 0.05 * bp);
}

TEST(pde_swaption, start_up_steps_keep_the_bermudan_free_of_oscillations) {
  // Month-long Crank-Nicolson steps on a fine grid (diffusion over 20 spacings squared
  // per step): one step after the last exercise and today, the start-up steps keep the
  // value convex across the exercise kinks; without them Crank-Nicolson wiggles.
  const auto c = upward_curve();
  const auto swaps = underlyings(c, 1, 9, 10);
  const auto option = std::make_shared<const pde_swaption>(false, 1.0, swaps[0]->swap_rate(), swaps);
  const auto p = hjm({0.05}, {0.01});
  const model_markovian_hjm analytic(*p, today, {}, true, {swaps.back()->start()});
  matrix<double> cov;
  diffusion_ir_markovian_hjm_pde::state_covariance(analytic, swaps.back()->start(), cov);
  const auto axis = stretched_axis(6.0 * std::sqrt(cov(0, 0)), 401, 3.0).axis();
  // Nodes where the slope falls: the value is convex in z (a receiver's bonds are
  // exponentials in z), so any is a wiggle.
  const auto wiggles = [&](bool start_up) {
    const auto keep = std::make_shared<const keeping_final>(option);
    pde_price(p, c, option, 401, 30.0, false, 6.0, 3.0, start_up, keep);
    std::size_t count = 0;
    for (const auto* v : {&keep->first, &keep->slice})
      for (std::size_t q = 1; q + 1 < v->size(); ++q) {
        const double left = ((*v)[q] - (*v)[q - 1]) / (axis[q] - axis[q - 1]);
        const double right = ((*v)[q + 1] - (*v)[q]) / (axis[q + 1] - axis[q]);
        count += right < left - 1e-9 * (std::fabs(left) + 1e-6);
      }
    return count;
  };
  EXPECT_EQ(wiggles(true), 0u);
  EXPECT_GT(wiggles(false), 0u);
}

// Longstaff-Schwartz on the model's own simulation step (states x and the log
// normalised discount factor; deflator P(0, t) e^{-x_n}): exercise rules regressed on
// (1, x1, x2, x1^2, x1 x2, x2^2) over in-the-money paths of one set of paths, then
// applied to an independent set, whose mean and standard error are returned. The rule
// is suboptimal, so the estimate is biased low, by less than its noise here.
std::pair<double, double> longstaff_schwartz(const std::shared_ptr<const parameter_markovian_hjm>& p,
                                             const std::shared_ptr<const discount_curve>& c,
                                             const std::vector<std::shared_ptr<const interest_rate_swap>>& swaps,
                                             double strike, bool payer, std::size_t paths, unsigned seed) {
  const std::size_t n = p->number_of_factors(), exercises = swaps.size(), basis = 6;
  std::vector<datetime> dates{today};
  for (const auto& s : swaps) dates.push_back(s->start());
  const model_markovian_hjm m(*p, today, dates, false, {});
  const double rho = p->correlation()(0, 1);
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  // Per set: deflated exercise values and regressors per exercise and path.
  const auto simulate = [&](std::vector<std::vector<double>>& value, std::vector<std::vector<double>>& features) {
    value.assign(exercises, std::vector<double>(paths));
    features.assign(exercises, std::vector<double>(paths * basis));
    matrix<double> current(n + 1, paths, 0.0), previous, draws(n, paths);
    vector<double> cp(paths);
    for (std::size_t k = 1; k < dates.size(); ++k) {
      for (std::size_t q = 0; q < paths; ++q) {
        const double z1 = normal(rng), z2 = normal(rng);
        draws(0, q) = z1;
        draws(1, q) = rho * z1 + std::sqrt(1 - rho * rho) * z2;
      }
      m.simulation_step(nullptr, k, draws, previous, current);
      const auto& swap = *swaps[k - 1];
      const auto& all = swap.all_dates();
      std::vector<vector<double>> log_p(all.size(), vector<double>(paths));
      for (std::size_t i = 0; i < all.size(); ++i) {
        m.conditional_price(current, dates[k], all[i], log_p[i]);
        log_p[i] = log_p[i] + c->log_df(dates[k], all[i]);
      }
      std::vector<double> dfs(all.size());
      for (std::size_t q = 0; q < paths; ++q) {
        for (std::size_t i = 0; i < all.size(); ++i) dfs[i] = i == 0 ? 1.0 : std::exp(log_p[i][q]);
        const double deflator = c->df(today, dates[k]) * std::exp(-current(n, q));
        value[k - 1][q] = deflator * std::max((payer ? 1.0 : -1.0) * swap.value(strike, dfs), 0.0);
        const double x1 = current(0, q), x2 = current(1, q);
        const double f[basis] = {1.0, x1, x2, x1 * x1, x1 * x2, x2 * x2};
        std::copy(f, f + basis, features[k - 1].begin() + q * basis);
      }
    }
  };
  std::vector<std::vector<double>> value, features;
  simulate(value, features);
  // Backward regressions of the deflated cash flow on the features (normal equations).
  std::vector<std::vector<double>> beta(exercises, std::vector<double>(basis, 0.0));
  std::vector<double> cash = value.back();
  for (std::size_t k = exercises - 1; k-- > 0;) {
    double A[basis][basis + 1] = {};
    for (std::size_t q = 0; q < paths; ++q) {
      if (value[k][q] <= 0.0) continue;
      const double* f = &features[k][q * basis];
      for (std::size_t i = 0; i < basis; ++i) {
        for (std::size_t j = 0; j < basis; ++j) A[i][j] += f[i] * f[j];
        A[i][basis] += f[i] * cash[q];
      }
    }
    for (std::size_t i = 0; i < basis; ++i)  // Gauss-Jordan with partial pivoting
      for (std::size_t r = i + 1; r < basis; ++r)
        if (std::fabs(A[r][i]) > std::fabs(A[i][i]))
          for (std::size_t j = 0; j <= basis; ++j) std::swap(A[r][j], A[i][j]);
    for (std::size_t i = 0; i < basis; ++i) {
      for (std::size_t r = 0; r < basis; ++r) {
        if (r == i) continue;
        const double factor = A[r][i] / A[i][i];
        for (std::size_t j = 0; j <= basis; ++j) A[r][j] -= factor * A[i][j];
      }
    }
    for (std::size_t i = 0; i < basis; ++i) beta[k][i] = A[i][basis] / A[i][i];
    for (std::size_t q = 0; q < paths; ++q) {
      double continuation = 0.0;
      for (std::size_t i = 0; i < basis; ++i) continuation += beta[k][i] * features[k][q * basis + i];
      if (value[k][q] > 0.0 && value[k][q] > continuation) cash[q] = value[k][q];
    }
  }
  // Independent paths, the fitted rule.
  simulate(value, features);
  double sum = 0.0, square = 0.0;
  for (std::size_t q = 0; q < paths; ++q) {
    double paid = value.back()[q];
    for (std::size_t k = 0; k + 1 < exercises; ++k) {
      double continuation = 0.0;
      for (std::size_t i = 0; i < basis; ++i) continuation += beta[k][i] * features[k][q * basis + i];
      if (value[k][q] > 0.0 && value[k][q] > continuation) {
        paid = value[k][q];
        break;
      }
    }
    sum += paid;
    square += paid * paid;
  }
  const double mean = sum / paths;
  return {mean, std::sqrt((square / paths - mean * mean) / (paths - 1))};
}

TEST(pde_swaption, two_factor_bermudans_match_longstaff_schwartz) {
  // Within 3 standard errors (fixed seed), and above the best European. The second set
  // is shaped like the bundled two-factor sample: a factor decaying at 1.5 a year that
  // is all but still for three years (volatility 0.01 %), then 1.5 % (measured: PDE
  // 481.5 bp, Monte Carlo 478.2 +- 2.2 bp, which the suboptimal rule biases low).
  const auto c = upward_curve();
  matrix<double> kappa(1, 2), sigma(2, 2), rho(2, 2, 1.0);
  kappa(0, 0) = 0.05;
  kappa(0, 1) = 1.5;
  sigma(0, 0) = sigma(1, 0) = 0.01;
  sigma(0, 1) = 1e-4;
  sigma(1, 1) = 0.015;
  rho(0, 1) = rho(1, 0) = -0.35;
  const auto sample_like = std::make_shared<const parameter_markovian_hjm>(
      kappa, sigma, rho, std::vector<datetime>{today}, std::vector<datetime>{add(today, "3Y"), add(today, "10Y")},
      nullptr, parameter_markovian_hjm_type::mean_reversion);
  struct row {
    std::shared_ptr<const parameter_markovian_hjm> p;
    int first, last, end;
    bool payer;
  };
  for (const row& r : {row{hjm({0.03, 0.5}, {0.008, 0.007}, -0.5), 2, 6, 8, false}, row{sample_like, 1, 9, 10, true}}) {
    const auto swaps = underlyings(c, r.first, r.last, r.end);
    const double strike = swaps[0]->swap_rate();
    const auto option = std::make_shared<const pde_swaption>(r.payer, 1.0, strike, swaps);
    const double pde = pde_price(r.p, c, option, 121, 7.0, false, 6.0, 2.0).price;
    const auto [mc, se] = longstaff_schwartz(r.p, c, swaps, strike, r.payer, 40000, 2026);
    EXPECT_NEAR(pde, mc, 3 * se) << pde << " " << mc << " " << se;
    double best_european = 0.0;
    for (const auto& s : swaps) best_european = std::max(best_european, closed_form(r.p, *s, strike, r.payer));
    EXPECT_GT(pde, best_european);
  }
}

TEST(pde_swaption, forward_density_gives_the_backward_price) {
  // Forward grids step the density with the transposed backward matrices (ADI included),
  // so the two directions agree to rounding on any grid.
  const auto c = upward_curve();
  const auto swaps = underlyings(c, 3, 3, 8);
  const double strike = swaps[0]->swap_rate() + 0.002;
  struct row {
    std::shared_ptr<const parameter_markovian_hjm> p;
    std::size_t points;
    double step;
  };
  for (const row& r : {row{hjm({0.05}, {0.01}), 201, 10.0}, row{hjm({0.02, 0.6}, {0.008, 0.006}, -0.5), 31, 30.0},
                       row{three_factor_hjm(), 13, 60.0}}) {
    const double back =
        pde_price(r.p, c, std::make_shared<const pde_swaption>(true, 1.0, strike, swaps), r.points, r.step).price;
    const double forth = pde_price(r.p, c, std::make_shared<const pde_swaption>(true, 1.0, strike, swaps, true),
                                   r.points, r.step, true)
                             .price;
    EXPECT_NEAR(forth, back, 1e-12 * back) << r.p->number_of_factors();
  }
}

TEST(pde_swaption, bad_trades_are_refused) {
  const auto c = upward_curve();
  const auto swaps = underlyings(c, 1, 2, 5);
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, -1.0, 0.03, swaps); }),
            "swaption notional must be non-negative");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, {}); }), "swaption has no exercise date");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, {swaps[1], swaps[0]}); }),
            "swaption exercise dates must ascend");
  EXPECT_EQ(testing::error_text([&] { pde_swaption(true, 1.0, 0.03, swaps, true); }),
            "forward PDE grids price European swaptions only");
}

}  // namespace
}  // namespace tarvex
