#include "Analytics/calibration/ir/hjm/calibration_ir_hjm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_maps.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_problem.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/error.h"
#include "Core/logger.h"
#include "Core/parallel_for.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

using hjm_testing::valuation;
using type = parameter_markovian_hjm_type;

const auto act365 = std::make_shared<const day_count_convention>();

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

std::vector<tenor> tenors(std::initializer_list<const char*> texts) {
  std::vector<tenor> out;
  for (const char* t : texts) out.emplace_back(t);
  return out;
}

std::shared_ptr<const calibration_ir_targets_configuration> targets(std::vector<tenor> expiries, const char* coterminal,
                                                                    std::vector<tenor> cms, bool caplets,
                                                                    bool coterminals, bool grid) {
  return std::make_shared<const calibration_ir_targets_configuration>(
      tenor("1Y"), std::move(expiries), tenor(coterminal), std::move(cms), std::vector<std::vector<double>>{}, caplets,
      coterminals, grid);
}

calibration_ir_hjm calibrator(const std::shared_ptr<const calibration_ir_targets_configuration>& t) {
  return calibration_ir_hjm(valuation, curve(), t, act365);
}

// 9 caplets and 9 co-terminal 10Y swaptions (the 9Y one is the 9Y caplet again).
calibration_ir_hjm caplets_and_coterminals() {
  return calibrator(
      targets(tenors({"1Y", "2Y", "3Y", "4Y", "5Y", "6Y", "7Y", "8Y", "9Y"}), "10Y", {}, true, true, false));
}

// Caplets and a 3 x 2 expiry x tenor grid.
calibration_ir_hjm caplets_and_grid() {
  return calibrator(targets(tenors({"1Y", "3Y", "5Y"}), "10Y", tenors({"2Y", "5Y"}), true, false, true));
}

std::shared_ptr<const calibration_hjm_settings> settings(std::size_t factors, bool aad, bool correlation = false,
                                                         bool regularization = false, bool all = true,
                                                         int iterations = 200, bool debug = false,
                                                         double lambda = 0.5) {
  return std::make_shared<const calibration_hjm_settings>(
      factors, std::vector<double>{0.02, 0.0005}, std::vector<double>{-0.05, 0.4}, type::mean_reversion, debug,
      iterations, aad, correlation, 1e-14, lambda, regularization, all);
}

// Parameters on the calibrator's grids: decays per factor growing along the curve,
// volatilities humped over the expiries.
std::shared_ptr<const parameter_markovian_hjm> truth(const calibration_ir_hjm& c, const matrix<double>& rho) {
  const std::size_t n = rho.rows(), kd = c.maturity_dates().size(), sd = c.expiry_dates().size();
  matrix<double> k(kd, n), s(sd, n);
  for (std::size_t f = 0; f < n; ++f) {
    for (std::size_t i = 0; i < kd; ++i) k(i, f) = 0.02 + 0.12 * f + 0.004 * i;
    for (std::size_t i = 0; i < sd; ++i)
      s(i, f) = (0.0085 - 0.002 * f) * (1.0 + 0.15 * std::sin(0.7 * static_cast<double>(i)));
  }
  return std::make_shared<const parameter_markovian_hjm>(k, s, rho, c.maturity_dates(), c.expiry_dates(), act365,
                                                         type::mean_reversion);
}

// Model volatility of every target at the money under p, each search run to convergence.
std::vector<double> model_vols(const calibration_ir_hjm& c, const parameter_markovian_hjm& p) {
  const model_markovian_hjm model(p, valuation, {}, true, {});
  std::vector<double> out;
  for (const auto& t : c.swaptions()) {
    vector<double> root(p.number_of_factors());
    t->initial_root(root, t->swap_rate(), model);
    out.push_back(t->implied_volatility(t->swap_rate(), model, root, 100, 1e-14));
  }
  return out;
}

// A surface whose node at each target's (expiry, tenor) holds that target's vol (node
// values are returned exactly); other nodes hold a filler no target reads.
std::shared_ptr<const ir_volatility_surface> surface(const calibration_ir_hjm& c, const std::vector<double>& vols) {
  std::vector<double> expiries, lengths;
  for (const auto& t : c.swaptions()) {
    expiries.push_back(t->swaption()->expiry_double());
    lengths.push_back(t->swaption()->tenor_double());
  }
  auto distinct = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
  };
  const auto ex = distinct(expiries), te = distinct(lengths);
  std::vector<double> nodes(ex.size() * te.size(), 0.0123);
  for (std::size_t i = 0; i < vols.size(); ++i) {
    const std::size_t a = std::lower_bound(ex.begin(), ex.end(), expiries[i]) - ex.begin();
    const std::size_t b = std::lower_bound(te.begin(), te.end(), lengths[i]) - te.begin();
    nodes[a * te.size() + b] = vols[i];
  }
  return std::make_shared<const ir_volatility_surface>(valuation, ex, te, nodes);
}

// Starting decays and volatilities away from the truth: flat, on the truth's grids.
std::shared_ptr<const parameter_markovian_hjm> start_from(const parameter_markovian_hjm& p) {
  const std::size_t n = p.number_of_factors();
  matrix<double> k(p.decays().rows(), n), s(p.volatilities().rows(), n);
  for (std::size_t f = 0; f < n; ++f) {
    for (std::size_t i = 0; i < k.rows(); ++i) k(i, f) = 0.05 + 0.1 * f;
    for (std::size_t i = 0; i < s.rows(); ++i) s(i, f) = 0.006 - 0.001 * f;
  }
  return std::make_shared<const parameter_markovian_hjm>(k, s, p.correlation(), p.decays_dates(),
                                                         p.volatilities_dates(), act365, type::mean_reversion);
}

// Flat parameters on the calibrator's grids.
std::shared_ptr<const parameter_markovian_hjm> flat(const calibration_ir_hjm& c, double kappa, double sigma) {
  return std::make_shared<const parameter_markovian_hjm>(
      matrix<double>(c.maturity_dates().size(), 1, kappa), matrix<double>(c.expiry_dates().size(), 1, sigma),
      matrix<double>{{1.0}}, c.maturity_dates(), c.expiry_dates(), act365, type::mean_reversion);
}

template <class F>
void expect_error(F f, const std::string& function, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << text;
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), text);
    EXPECT_EQ(e.location().function, function) << text;
  }
}

// --- construction ------------------------------------------------------------------

TEST(calibration_ir_hjm, targets_and_date_grids_follow_the_configuration) {
  auto add = [](const datetime& d, const char* t) { return datetime_helper::add_tenor(d, tenor(t), 1); };
  // Caplets, co-terminals to 3Y (the 3Y and 4Y expiries are skipped) and a grid with a
  // 1Y tenor whose swaps coincide in dates with the caplets.
  const auto c = calibrator(targets(tenors({"1Y", "2Y", "3Y", "4Y"}), "3Y", tenors({"1Y", "2Y"}), true, true, true));
  std::vector<std::pair<datetime, datetime>> expected;
  for (const char* e : {"1Y", "2Y", "3Y", "4Y"}) expected.emplace_back(add(valuation, e), add(add(valuation, e), "1Y"));
  for (const char* e : {"1Y", "2Y"}) expected.emplace_back(add(valuation, e), add(valuation, "3Y"));
  for (const char* t : {"1Y", "2Y"})
    for (const char* e : {"1Y", "2Y", "3Y", "4Y"}) expected.emplace_back(add(valuation, e), add(add(valuation, e), t));
  ASSERT_EQ(c.swaptions().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.swaptions()[i]->swaption()->start(), expected[i].first) << i;
    EXPECT_EQ(c.swaptions()[i]->swaption()->end(), expected[i].second) << i;
  }
  // Each date once, ascending.
  const std::vector<datetime> expiries{add(valuation, "1Y"), add(valuation, "2Y"), add(valuation, "3Y"),
                                       add(valuation, "4Y")};
  const std::vector<datetime> maturities{add(valuation, "2Y"), add(valuation, "3Y"), add(valuation, "4Y"),
                                         add(valuation, "5Y"), add(valuation, "6Y")};
  EXPECT_EQ(c.expiry_dates(), expiries);
  EXPECT_EQ(c.maturity_dates(), maturities);

  const auto none = calibrator(targets(tenors({"1Y", "2Y"}), "10Y", tenors({"5Y"}), false, false, false));
  EXPECT_TRUE(none.swaptions().empty());
  EXPECT_TRUE(none.expiry_dates().empty());
  EXPECT_TRUE(none.maturity_dates().empty());
}

// --- checks ------------------------------------------------------------------------

TEST(calibration_ir_hjm, calibrate_refuses_bad_inputs_with_exact_messages) {
  const auto c = caplets_and_coterminals();
  const auto s = surface(c, std::vector<double>(c.swaptions().size(), 0.008));
  const matrix<double> one{{1.0}}, two = hjm_testing::uniform_correlation(2, 0.3);
  const std::vector<double> short_strikes(c.swaptions().size() - 1, 0.03);
  expect_error([&] { c.calibrate(s, one, settings(1, false), short_strikes, nullptr); }, "calibrate",
               "strike has different size than swaptions!");
  for (const matrix<double>& bad :
       {matrix<double>{{1.0, 0.5}, {0.4, 1.0}}, matrix<double>{{1.0, 1.5}, {1.5, 1.0}},
        matrix<double>{{1.0, 0.2}, {0.2, 0.99}}, matrix<double>{{1.0, 0.2, 0.1}, {0.2, 1.0, 0.3}}})
    expect_error([&] { c.calibrate(s, bad, settings(2, false), {}, nullptr); }, "calibrate",
                 "correlation matrix is bad!");
  expect_error([&] { c.calibrate(s, two, settings(1, false), {}, nullptr); }, "calibrate",
               "Number of factors is inconsistent for the calibration!");
  // Unit diagonal and entries within [-1, 1], yet indefinite (or singular).
  for (const matrix<double>& bad : {matrix<double>{{1.0, 0.9, -0.9}, {0.9, 1.0, 0.9}, {-0.9, 0.9, 1.0}},
                                    matrix<double>{{1.0, 1.0, 0.0}, {1.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}})
    expect_error([&] { c.calibrate(s, bad, settings(3, false), {}, nullptr); }, "calibrate",
                 "correlation matrix is not positive definite!");
  auto with_bounds = [](std::vector<double> vol, std::vector<double> decay) {
    return std::make_shared<const calibration_hjm_settings>(1, vol, decay, type::mean_reversion, false, 10, true, false,
                                                            1e-10, 0.0, false, true);
  };
  expect_error([&] { c.calibrate(s, one, with_bounds({0.02}, {0.0, 0.4}), {}, nullptr); }, "calibrate",
               "volatility bounds must be two different finite numbers, got [0.02]");
  expect_error([&] { c.calibrate(s, one, with_bounds({0.02, 0.0005}, {0.1, 0.1}), {}, nullptr); }, "calibrate",
               "decay bounds must be two different finite numbers, got [0.1, 0.1]");
  expect_error([&] { c.calibrate(s, one, with_bounds({0.02, std::nan("")}, {0.0, 0.4}), {}, nullptr); }, "calibrate",
               "volatility bounds must be two different finite numbers, got [0.02, nan]");
  // Starting values must fit the grids and lie strictly inside the bounds (on a bound
  // the map to the unknowns is infinite, beyond it NaN).
  const auto p0 = flat(c, 0.03, 0.006);
  expect_error([&] { c.calibrate(s, two, settings(2, false), {}, p0); }, "calibrate",
               "initial parameters have 1 factors, the correlation 2");
  const auto other = caplets_and_grid();
  expect_error([&] { c.calibrate(s, one, settings(1, false), {}, flat(other, 0.03, 0.006)); }, "calibrate",
               "initial parameters have 8 decay rows, the calibration 9 decay dates (the distinct target ends)");
  expect_error([&] { c.calibrate(s, one, settings(1, false), {}, flat(c, 0.03, 0.02)); }, "calibrate",
               "initial volatility 0.02 (row 0, factor 0) is not strictly inside the volatility bounds [5e-04, 0.02]");
  expect_error([&] { c.calibrate(s, one, settings(1, false), {}, flat(c, -0.06, 0.006)); }, "calibrate",
               "initial decay -0.06 (row 0, factor 0) is not strictly inside the decay bounds [-0.05, 0.4]");
  // A 1 x 1 [1] with one factor passes; strikes beyond the targets are ignored.
  std::vector<double> long_strikes;
  for (const auto& t : c.swaptions()) long_strikes.push_back(t->swap_rate());
  long_strikes.push_back(-1.0);
  const auto p = c.calibrate(s, one, settings(1, true, false, false, true, 0), long_strikes, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->number_of_factors(), 1u);
  EXPECT_EQ(p->decays_dates(), c.maturity_dates());
  EXPECT_EQ(p->volatilities_dates(), c.expiry_dates());
  EXPECT_THROW(calibration_ir_hjm::cms_spread_pricing_experimental(valuation, valuation, p, curve(), true),
               NotImplementedError);
}

// --- maps --------------------------------------------------------------------------

parameter_markovian_hjm three_factor_parameters(const matrix<double>& rho) {
  const std::vector<datetime> kd{datetime(2027, 1, 5), datetime(2030, 1, 5)};
  const std::vector<datetime> sd{datetime(2027, 1, 5), datetime(2028, 1, 5), datetime(2031, 1, 5)};
  matrix<double> k(2, 3), s(3, 3);
  for (std::size_t f = 0; f < 3; ++f) {
    for (std::size_t i = 0; i < 2; ++i) k(i, f) = 0.03 + 0.1 * f + 0.02 * i;
    for (std::size_t i = 0; i < 3; ++i) s(i, f) = 0.004 + 0.002 * f + 0.001 * i;
  }
  return parameter_markovian_hjm(k, s, rho, kd, sd, act365, type::mean_reversion);
}

const matrix<double> rho3{{1.0, 0.6, -0.3}, {0.6, 1.0, 0.2}, {-0.3, 0.2, 1.0}};

TEST(calibration_ir_hjm_maps, bounded_maps_round_trip_and_ignore_bound_order) {
  const calibration_ir_hjm_maps up({0.0, 0.4}, {0.0005, 0.02}, true, 1.0), down({0.4, 0.0}, {0.02, 0.0005}, true, 1.0);
  auto p = three_factor_parameters(rho3);
  vector<double> x, y;
  up.map_to_R(p, x);
  down.map_to_R(p, y);
  ASSERT_EQ(x.size(), 6u + 9u + 3u);
  EXPECT_EQ(x, y);
  // Closed form: 10 artanh of the entry's position in its interval.
  EXPECT_NEAR(x[1], 10 * std::atanh((2 * 0.13 - 0.4) / 0.4), 1e-12);
  EXPECT_NEAR(x[6], 10 * std::atanh((2 * 0.004 - 0.0205) / 0.0195), 1e-12);
  // Through the unknowns and back: every entry, the correlation via its Cholesky rows.
  auto q = three_factor_parameters(hjm_testing::uniform_correlation(3, 0.0));
  down.map_from_R(x, q);
  for (std::size_t e = 0; e < 6; ++e) EXPECT_NEAR(q.decays().data()[e], p.decays().data()[e], 1e-15);
  for (std::size_t e = 0; e < 9; ++e) EXPECT_NEAR(q.volatilities().data()[e], p.volatilities().data()[e], 1e-17);
  for (std::size_t e = 0; e < 9; ++e) EXPECT_NEAR(q.correlation().data()[e], rho3.data()[e], 1e-14);
  // Without the correlation flag the correlation is neither an unknown nor touched.
  const calibration_ir_hjm_maps fixed({0.0, 0.4}, {0.0005, 0.02}, false, 1.0);
  vector<double> z;
  fixed.map_to_R(p, z);
  EXPECT_EQ(z.size(), 15u);
  const matrix<double> before = q.correlation();
  fixed.map_from_R(z, q);
  EXPECT_EQ(q.correlation(), before);

  vector<double> wrong(z.size() + 1);
  expect_error([&] { fixed.map_to_R(p, wrong); }, "map_to_R", "out of range!");
  expect_error([&] { fixed.map_from_R(wrong, q); }, "map_from_R", "out of range!");
  std::vector<double> gradient(p.state_parameters_size());
  expect_error([&] { fixed.map_from_R_aad(wrong, p, gradient.data(), wrong); }, "map_from_R_aad", "out of range!");
  vector<double> r(3 + 3);
  expect_error([&] { fixed.tikhonov_regularization(p, r, 3); }, "tikhonov_regularization", "out of range");
}

TEST(calibration_ir_hjm_maps, saturated_cholesky_rows_are_shrunk) {
  const calibration_ir_hjm_maps maps({0.0, 0.4}, {0.0005, 0.02}, true, 1.0);
  auto p = three_factor_parameters(rho3);
  vector<double> x;
  maps.map_to_R(p, x);
  // Row 2 of L: tanh(0.1 x) = 0.9 and 0.8, norm^2 1.45 >= 1.
  x[15] = 10 * std::atanh(0.5);
  x[16] = 10 * std::atanh(0.9);
  x[17] = 10 * std::atanh(0.8);
  maps.map_from_R(x, p);
  const double shrink = std::sqrt(0.999999 / 1.45);
  const double l20 = 0.9 * shrink, l21 = 0.8 * shrink, l10 = 0.5, l11 = std::sqrt(0.75);
  EXPECT_NEAR(p.correlation()(1, 0), l10, 1e-15);
  EXPECT_NEAR(p.correlation()(2, 0), l20, 1e-15);
  EXPECT_NEAR(p.correlation()(2, 1), l20 * l10 + l21 * l11, 1e-15);
  EXPECT_EQ(p.correlation()(2, 2), 1.0);
  EXPECT_EQ(p.correlation()(1, 2), p.correlation()(2, 1));
  // Still positive definite: its Cholesky diagonal is sqrt(1 - 0.999999).
  vector<double> back;
  maps.map_to_R(p, back);
  EXPECT_NEAR(std::tanh(0.1 * back[16]), l20, 1e-12);
  EXPECT_NEAR(std::tanh(0.1 * back[17]), l21, 1e-9);
}

// map_from_R_aad against central differences of w . state(x) for random-looking
// weights w, at an interior point and with a saturated Cholesky row.
TEST(calibration_ir_hjm_maps, adjoint_matches_finite_differences) {
  const calibration_ir_hjm_maps maps({0.0, 0.4}, {0.0005, 0.02}, true, 1.0);
  auto p = three_factor_parameters(rho3);
  const std::size_t size = p.state_parameters_size();
  std::vector<double> w(size);
  for (std::size_t e = 0; e < size; ++e) w[e] = std::sin(1.0 + 2.3 * e);
  auto objective = [&](const vector<double>& x) {
    maps.map_from_R(x, p);
    std::vector<double> state(size);
    p.get_state_parameters(state.data());
    double j = 0.0;
    for (std::size_t e = 0; e < size; ++e) j += w[e] * state[e];
    return j;
  };
  vector<double> interior;
  maps.map_to_R(p, interior);
  vector<double> saturated = interior;
  saturated[16] = 10 * std::atanh(0.9);
  saturated[17] = 10 * std::atanh(-0.8);
  for (const vector<double>& x0 : {interior, saturated}) {
    vector<double> row(x0.size());
    maps.map_from_R_aad(x0, p, w.data(), row);
    for (std::size_t k = 0; k < x0.size(); ++k) {
      vector<double> x = x0;
      const double h = 1e-5;
      x[k] = x0[k] + h;
      const double up = objective(x);
      x[k] = x0[k] - h;
      const double down = objective(x);
      EXPECT_NEAR(row[k], (up - down) / (2 * h), 1e-9 * std::max(1.0, std::fabs(row[k]))) << k;
    }
  }
}

TEST(calibration_ir_hjm_maps, tikhonov_residuals_and_their_derivatives) {
  const double lambda = 0.7;
  const calibration_ir_hjm_maps maps({0.0, 0.4}, {0.0005, 0.02}, false, lambda);
  auto p = three_factor_parameters(rho3);
  const std::size_t count = calibration_ir_hjm_maps::number_of_regularizations(p);
  ASSERT_EQ(count, 3u + 6u);
  vector<double> r(2 + count, -1.0);
  maps.tikhonov_regularization(p, r, 2);
  EXPECT_EQ(r[0], -1.0);
  EXPECT_NEAR(r[2 + 1], lambda * 0.02, 1e-15);       // decays row 1 - row 0, factor 1
  EXPECT_NEAR(r[2 + 3 + 5], lambda * 0.001, 1e-15);  // volatilities row 2 - row 1, factor 2
  vector<double> x;
  maps.map_to_R(p, x);
  matrix<double> j(2 + count, x.size(), 9.0);
  maps.tikhonov_regularization_aad(x, p, j, 2);
  EXPECT_EQ(j(0, 0), 9.0);
  for (std::size_t k = 0; k < x.size(); ++k) {
    vector<double> y = x;
    const double h = 1e-5;
    vector<double> up(r.size()), down(r.size());
    y[k] = x[k] + h;
    maps.map_from_R(y, p);
    maps.tikhonov_regularization(p, up, 2);
    y[k] = x[k] - h;
    maps.map_from_R(y, p);
    maps.tikhonov_regularization(p, down, 2);
    for (std::size_t i = 2; i < r.size(); ++i)
      EXPECT_NEAR(j(i, k), (up[i] - down[i]) / (2 * h), 1e-11) << i << " " << k;
  }
}

// --- residuals and Jacobian ----------------------------------------------------------

// The adjoint Jacobian against central differences of the residual function (each
// residual evaluation re-runs the boundary searches from the stored roots).
double jacobian_mismatch(calibration_ir_hjm_problem& problem, const vector<double>& x0) {
  const std::size_t rows = problem.number_of_residuals(), n = problem.number_of_unknowns();
  matrix<double> j(rows, n);
  problem.jacobian(x0, j);
  double worst = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    vector<double> x = x0, up(rows), down(rows);
    const double h = 1e-4 * std::max(1.0, std::fabs(x0[k]));
    x[k] = x0[k] + h;
    problem.residuals(x, up);
    x[k] = x0[k] - h;
    problem.residuals(x, down);
    for (std::size_t i = 0; i < rows; ++i) {
      double scale = 0.0;
      for (std::size_t c = 0; c < n; ++c) scale = std::max(scale, std::fabs(j(i, c)));
      const double fd = (up[i] - down[i]) / (2 * h);
      worst = std::max(worst, std::fabs(j(i, k) - fd) / std::max(scale, 1e-300));
    }
  }
  return worst;
}

TEST(calibration_ir_hjm, adjoint_jacobian_matches_finite_differences_of_the_residuals) {
  {  // One factor: the linearised boundary is exact, so the Jacobian is exact.
    const auto c = caplets_and_coterminals();
    const matrix<double> one{{1.0}};
    const auto vols = model_vols(c, *truth(c, one));
    calibration_ir_hjm_problem problem(c, *surface(c, vols), one, *settings(1, true, false, true), {},
                                       start_from(*truth(c, one)));
    EXPECT_EQ(problem.number_of_regularizations(), 8u + 8u);
    EXPECT_LT(jacobian_mismatch(problem, problem.initial_point()), 1e-7);  // measured 1.4e-9: the FD error
  }
  {  // Three factors with the correlation fitted, caplets and swaptions off the money.
    const auto c = caplets_and_grid();
    const auto p = truth(c, rho3);
    std::vector<double> strikes;
    for (std::size_t i = 0; i < c.swaptions().size(); ++i)
      strikes.push_back(c.swaptions()[i]->swap_rate() + 0.002 * (static_cast<double>(i % 3) - 1.0));
    calibration_ir_hjm_problem problem(c, *surface(c, model_vols(c, *p)), rho3, *settings(3, true, true, true), strikes,
                                       p);
    EXPECT_EQ(problem.number_of_unknowns(), 3 * (c.maturity_dates().size() + c.expiry_dates().size()) + 3);
    // The adjoint holds the root and the boundary normal fixed, which is exact up to
    // the boundary's curvature with several factors: measured 7.3e-7 whatever the step.
    EXPECT_LT(jacobian_mismatch(problem, problem.initial_point()), 1e-6);
  }
}

// --- calibrations --------------------------------------------------------------------

double worst_fit_bp(const calibration_ir_hjm& c, const parameter_markovian_hjm& p, const std::vector<double>& market) {
  const auto fitted = model_vols(c, p);
  double worst = 0.0;
  for (std::size_t i = 0; i < market.size(); ++i) worst = std::max(worst, 1e4 * std::fabs(fitted[i] - market[i]));
  return worst;
}

// Annual decays and volatilities are not all identified by annual swaptions (the
// overall scale of the decay factor trades against the volatilities, and alternating
// decays nearly cancel), so the parameters are recovered where the Tikhonov residuals
// pin them down: a flat truth is the only exact fit with zero roughness.
TEST(calibration_ir_hjm, one_factor_round_trip_recovers_flat_parameters) {
  const auto c = caplets_and_coterminals();
  const matrix<double> one{{1.0}};
  const auto p = flat(c, 0.03, 0.0085);
  const auto vols = model_vols(c, *p);
  std::vector<std::shared_ptr<const parameter_markovian_hjm>> runs;
  for (bool aad : {true, false}) {
    runs.push_back(c.calibrate(surface(c, vols), one, settings(1, aad, false, true, true, 200, false, 1e5), {},
                               flat(c, 0.1, 0.006)));
    const auto& fitted = *runs.back();
    EXPECT_LT(worst_fit_bp(c, fitted, vols), 0.01) << aad;
    for (std::size_t e = 0; e < p->volatilities().size(); ++e)
      EXPECT_NEAR(fitted.volatilities().data()[e], 0.0085, 1e-8) << aad << " " << e;
    for (std::size_t e = 0; e < p->decays().size(); ++e)
      EXPECT_NEAR(fitted.decays().data()[e], 0.03, 1e-5) << aad << " " << e;
  }
  // With and without the adjoint Jacobian the optimiser reaches the same point.
  for (std::size_t e = 0; e < p->decays().size(); ++e)
    EXPECT_NEAR(runs[0]->decays().data()[e], runs[1]->decays().data()[e], 1e-6) << e;
  for (std::size_t e = 0; e < p->volatilities().size(); ++e)
    EXPECT_NEAR(runs[0]->volatilities().data()[e], runs[1]->volatilities().data()[e], 1e-9) << e;
}

// The report prices every target afresh: its figures agree with an independent pricing
// of the returned parameters, and a start beyond the volatility bounds (the library's
// own start is the market vol of each expiry, here above the upper bound) no longer
// gives NaN but a finite fit that names the pinned entries.
TEST(calibration_ir_hjm, report_gives_the_fit_stop_reason_and_pinned_parameters) {
  const auto c = caplets_and_coterminals();
  const matrix<double> one{{1.0}};
  const auto vols = model_vols(c, *flat(c, 0.03, 0.0085));
  calibration_ir_hjm_report report;
  const auto fitted = c.calibrate(surface(c, vols), one, settings(1, true), {}, flat(c, 0.1, 0.006), report);
  EXPECT_TRUE(report.converged()) << to_string(report.optimiser.termination);
  EXPECT_GT(report.optimiser.iterations, 0u);
  const auto independent = model_vols(c, *fitted);
  ASSERT_EQ(report.targets.size(), c.swaptions().size());
  double sum2 = 0.0, worst = 0.0;
  for (std::size_t i = 0; i < vols.size(); ++i) {
    const auto& t = report.targets[i];
    EXPECT_TRUE(t.fitted);
    EXPECT_EQ(t.market, vols[i]);
    EXPECT_NEAR(t.model, independent[i], 1e-12) << i;
    EXPECT_NEAR(t.difference_bp(), 1e4 * (independent[i] - vols[i]), 1e-8) << i;
    sum2 += t.difference_bp() * t.difference_bp();
    worst = std::max(worst, std::fabs(t.difference_bp()));
  }
  EXPECT_LT(report.rms_bp, 0.01);
  EXPECT_NEAR(report.rms_bp, std::sqrt(sum2 / static_cast<double>(vols.size())), 1e-12);
  EXPECT_EQ(report.worst_bp, worst);
  EXPECT_EQ(std::fabs(report.targets[report.worst].difference_bp()), worst);
  EXPECT_TRUE(report.at_bounds.empty());

  // Market vols of 300 bp against an upper volatility bound of 200 bp.
  const auto high = surface(c, std::vector<double>(vols.size(), 0.03));
  const auto pinned = c.calibrate(high, one, settings(1, true, false, false, true, 50), {}, nullptr, report);
  for (std::size_t e = 0; e < pinned->volatilities().size(); ++e)
    EXPECT_TRUE(std::isfinite(pinned->volatilities().data()[e])) << e;
  EXPECT_GT(report.rms_bp, 30.0);
  ASSERT_FALSE(report.at_bounds.empty());
  for (const auto& hit : report.at_bounds) {
    const double value = (hit.decay ? pinned->decays() : pinned->volatilities())(hit.row, hit.factor);
    EXPECT_EQ(hit.value, value);
    EXPECT_NEAR(value, hit.decay ? (hit.upper ? 0.4 : -0.05) : (hit.upper ? 0.02 : 0.0005), 1e-6 * 0.45);
  }
}

// Roughness: the sum of squared differences of neighbouring rows, decays and
// volatilities together (what the Tikhonov residuals penalise).
double roughness(const parameter_markovian_hjm& p) {
  double r = 0.0;
  for (const matrix<double>* q : {&p.decays(), &p.volatilities()})
    for (std::size_t i = 1; i < q->rows(); ++i)
      for (std::size_t c = 0; c < q->columns(); ++c) r += std::pow((*q)(i, c) - (*q)(i - 1, c), 2);
  return r;
}

// For exact minimisers of |r|^2 + lambda^2 R, R cannot grow with lambda; the humped
// truth is rough, so each weight must visibly smooth the fit. The weight multiplies
// differences in parameter units against residuals in hundredths of a bp: lambda = 1e6
// makes a 1 bp step between volatility rows cost as much as a 1 bp miss.
TEST(calibration_ir_hjm, roughness_falls_as_the_tikhonov_weight_grows) {
  const auto c = caplets_and_coterminals();
  const matrix<double> one{{1.0}};
  const auto market = surface(c, model_vols(c, *truth(c, one)));
  double previous = std::numeric_limits<double>::infinity();
  for (double lambda : {0.0, 1e4, 1e5, 1e6, 1e7, 1e8}) {
    const auto fitted = c.calibrate(market, one, settings(1, true, false, lambda > 0.0, true, 400, false, lambda), {},
                                    flat(c, 0.05, 0.006));
    const double r = roughness(*fitted);
    EXPECT_LT(r, 0.9 * previous) << lambda;
    previous = r;
  }
}

TEST(calibration_ir_hjm, two_and_three_factor_round_trips_fit_to_a_hundredth_of_a_basis_point) {
  const auto c = caplets_and_grid();
  for (const matrix<double>& rho : {hjm_testing::uniform_correlation(2, 0.4), rho3}) {
    const std::size_t n = rho.rows();
    const auto p = truth(c, rho);
    const auto vols = model_vols(c, *p);
    for (bool aad : {true, false}) {
      const auto fitted = c.calibrate(surface(c, vols), rho, settings(n, aad), {}, start_from(*p));
      EXPECT_LT(worst_fit_bp(c, *fitted, vols), 0.01) << n << " " << aad;
      EXPECT_EQ(fitted->correlation(), rho) << n;
    }
  }
}

TEST(calibration_ir_hjm, thread_count_does_not_change_a_bit) {
  const auto c = caplets_and_grid();
  const auto p = truth(c, rho3);
  const auto s = surface(c, model_vols(c, *p));
  auto& smp = smp_tools_api::GetInstance();
  for (bool aad : {true, false}) {
    std::vector<std::shared_ptr<const parameter_markovian_hjm>> runs;
    for (std::size_t threads : {1u, 2u, 0u}) {
      smp.SetNumberOfThreads(threads);
      runs.push_back(c.calibrate(s, rho3, settings(3, aad, true, false, true, 15), {}, start_from(*p)));
    }
    smp.SetNumberOfThreads(0);
    for (std::size_t r = 1; r < runs.size(); ++r) {
      EXPECT_EQ(runs[r]->decays(), runs[0]->decays()) << aad << " " << r;
      EXPECT_EQ(runs[r]->volatilities(), runs[0]->volatilities()) << aad << " " << r;
      EXPECT_EQ(runs[r]->correlation(), runs[0]->correlation()) << aad << " " << r;
    }
  }
}

std::vector<std::string> captured;
void capture(int, const std::string& line) { captured.push_back(line); }

TEST(calibration_ir_hjm, only_the_first_n_targets_enter_without_the_all_targets_flag) {
  // 3 caplets and 3 x 2 swaptions (the 1Y tenor repeats the caplets), one factor:
  // N = 4 decays + 3 volatilities = 7 of 9 targets.
  const auto c = calibrator(targets(tenors({"1Y", "2Y", "3Y"}), "10Y", tenors({"1Y", "2Y"}), true, false, true));
  const matrix<double> one{{1.0}};
  const auto p = truth(c, one);
  auto vols = model_vols(c, *p);
  vols[7] += 0.002;  // the last two targets are far off the model and must not matter
  vols[8] -= 0.002;
  calibration_ir_hjm_problem problem(c, *surface(c, vols), one, *settings(1, true, false, false, false), {},
                                     start_from(*p));
  EXPECT_EQ(problem.number_of_targets(), 7u);
  EXPECT_EQ(problem.number_of_residuals(), 7u);

  captured.clear();
  logger::SetSink(capture);
  const auto fitted =
      c.calibrate(surface(c, vols), one, settings(1, true, false, false, false, 200, true), {}, start_from(*p));
  logger::SetSink(nullptr);
  const auto model = model_vols(c, *fitted);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_NEAR(1e4 * model[i], 1e4 * vols[i], 0.01) << i;

  // The fit table: three groups (caplets, 2Y, 5Y), rows stopping at index 7.
  auto find = [](const std::string& text) {
    return std::find_if(captured.begin(), captured.end(),
                        [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  const auto title = find(" Calibration results for ir 1 markovian hjm model:");
  ASSERT_NE(title, captured.end());
  ASSERT_GE(captured.end() - title, 6);
  const std::string header = "   dates    | ";
  const std::string group = "market(bps):  | model(bps):  | diff(bps):  | ";
  auto ends_with = [](const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_TRUE(ends_with(title[1], header + group + group + group)) << title[1];
  EXPECT_TRUE(ends_with(title[2], std::string((header + group + group + group).size(), '-'))) << title[2];
  for (std::size_t j = 0; j < 3; ++j) {
    const std::string& line = title[3 + j];
    const std::size_t cells = std::count(line.begin(), line.end(), '|');
    EXPECT_EQ(cells, j == 0 ? 10u : 7u) << line;  // date + 3 per group; expiry 0 reaches index 6 only
    EXPECT_NE(line.find(c.expiry_dates()[j].to_string()), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tarvex
