#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Analytics/models/model_cheyette.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Core/cpu_allocator.h"
#include "Math/gaussian_quadrature.h"
#include "Math/hartman_watson_distribution.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

std::shared_ptr<const parameter_cheyette> cheyette(const std::shared_ptr<const parameter_markovian_hjm>& hjm,
                                                   const std::vector<double>& skew, double level = 0.0,
                                                   datetime first = valuation) {
  matrix<double> s(1, skew.size());
  for (std::size_t f = 0; f < skew.size(); ++f) s(0, f) = skew[f];
  return std::make_shared<const parameter_cheyette>(hjm, s, std::vector<datetime>{first}, level);
}

matrix<double> normals(std::size_t rows, std::size_t paths, std::mt19937_64& rng) {
  std::normal_distribution<double> z;
  matrix<double> w(rows, paths);
  for (std::size_t k = 0; k < w.size(); ++k) w.data()[k] = z(rng);
  return w;
}

TEST(model_cheyette, grid_flags_variance_and_sizes) {
  const auto hjm = constant_parameters({0.03, 0.2}, {0.01, 0.008}, uniform_correlation(2, 0.3));
  const auto dates = monthly_dates(13, 1);
  const auto p = cheyette(hjm, {2.0, 1.0});
  const model_cheyette m(*p, valuation, dates, false, false);
  EXPECT_EQ(m.root_size(), 16u);
  EXPECT_EQ(m.number_of_states(), 10u);
  EXPECT_EQ(m.log_normalized_discounting_index(), 8u);
  EXPECT_EQ(m.variance(valuation), 0.0);
  EXPECT_EQ(m.variance(datetime(valuation.value() + 3.0)), -1.0);
  // B_i = sum_{k<=i} sv(k,0)^2 b^2 with b = 2.
  const auto& sv = m.hjm_model()->incremental_volatility_sv();
  EXPECT_NEAR(m.variance(dates[2]), 4.0 * (sv(1, 0) * sv(1, 0) + sv(2, 0) * sv(2, 0)), 1e-18);
  // Skew-date grid: a first skew date after the valuation date gets the valuation date in front.
  const auto late = cheyette(hjm, {2.0, 1.0}, 0.0, dates[3]);
  const model_cheyette g(*late, valuation, dates, true, false);
  ASSERT_EQ(g.model_dates().size(), 2u);
  EXPECT_EQ(g.model_dates()[0], valuation);
  EXPECT_EQ(g.model_dates()[1], dates[3]);
  EXPECT_EQ(g.number_of_states(), 4u);
  EXPECT_EQ(g.root_size(), 16u);
}

// fill() follows the parameters after set_state_parameters (which writes through to the
// shared HJM set); density() is the Hartman-Watson density with the model's rules.
TEST(model_cheyette, fill_follows_new_parameters_and_density_forwards) {
  const auto hjm = std::const_pointer_cast<parameter_markovian_hjm>(
      constant_parameters({0.03}, {0.01}, uniform_correlation(1, 0.0)));
  const auto p = std::const_pointer_cast<parameter_cheyette>(cheyette(hjm, {3.0}));
  const auto dates = monthly_dates(13, 1);
  model_cheyette m(*p, valuation, dates, false, false);
  const double before = m.variance(dates[12]);
  std::vector<double> state(p->state_parameters_size());
  p->get_state_parameters(state.data());
  state[1] *= 2.0;  // the volatility: variance x 4
  state[2] *= 3.0;  // the skew: variance x 9
  p->set_state_parameters(state.data());
  EXPECT_EQ(hjm->volatilities()(0, 0), 0.02);
  m.fill();
  EXPECT_NEAR(m.variance(dates[12]), 36.0 * before, 1e-12 * before);

  vector<double> a{0.1, -0.2}, b{0.9, 1.1}, a2 = a;
  m.density(a, b, 1.0);
  vector<double> n16(16), w31(31), n25(25), w49(49), s16(16), s25(25);
  gaussian_quadrature::gauss_kronrod(15, n16, w31, s16, 1e-14, 20);
  gaussian_quadrature::gauss_kronrod(24, n25, w49, s25, 1e-14, 20);
  for (std::size_t k = 0; k < 15; ++k) w31[30 - k] = w31[k];
  for (std::size_t k = 0; k < 24; ++k) w49[48 - k] = w49[k];
  hartman_watson_distribution::cheyette_density(a2, b, 1.0, n16, w31, n25, w49);
  EXPECT_EQ(a[0], a2[0]);
  EXPECT_EQ(a[1], a2[1]);
  EXPECT_GT(a[0], 0.0);
}

// Zero skew: the same draws give the HJM model's states, discount factors and prices.
TEST(model_cheyette, zero_skew_is_the_markovian_hjm_model) {
  matrix<double> k(2, 2), s(3, 2);
  const auto dates = monthly_dates(25, 1);
  k(0, 0) = 0.02, k(0, 1) = 0.4, k(1, 0) = 0.05, k(1, 1) = 0.3;
  for (std::size_t r = 0; r < 3; ++r) s(r, 0) = 0.01 + 0.002 * r, s(r, 1) = 0.006 - 0.001 * r;
  const auto hjm = std::make_shared<const parameter_markovian_hjm>(
      k, s, uniform_correlation(2, -0.4), std::vector<datetime>{valuation, dates[12]},
      std::vector<datetime>{valuation, dates[6], dates[18]}, nullptr, parameter_markovian_hjm_type::mean_reversion);
  const auto p = cheyette(hjm, {0.0, 0.0});
  const model_cheyette c(*p, valuation, dates, false, false);
  const model_markovian_hjm h(*hjm, valuation, dates, false, {});
  const std::size_t paths = 64;
  std::mt19937_64 rng(11);
  matrix<double> xc(10, paths, 0.0), pc, xh(3, paths, 0.0), ph;
  vector<double> oc(paths), oh(paths);
  for (std::size_t step = 1; step < dates.size(); ++step) {
    const auto w = normals(2, paths, rng);
    const auto allocations = cpu_allocator::allocation_count();
    c.simulation_step(nullptr, step, w, pc, xc);
    if (step > 1) {
      EXPECT_EQ(cpu_allocator::allocation_count(), allocations) << "the step allocates";
    }
    h.simulation_step(nullptr, step, w, ph, xh);
    for (std::size_t q = 0; q < paths; ++q) {
      EXPECT_NEAR(xc(0, q), xh(0, q), 1e-12);
      EXPECT_NEAR(xc(1, q), xh(1, q), 1e-12);
      EXPECT_NEAR(xc(8, q), xh(2, q), 1e-12) << step;
    }
    for (const auto& T : {dates[step], dates.back(), datetime(dates[step].value() + 3650.0)}) {
      c.conditional_price(xc, dates[step], T, oc);
      h.conditional_price(xh, dates[step], T, oh);
      for (std::size_t q = 0; q < paths; ++q) ASSERT_NEAR(oc[q], oh[q], 1e-12) << step << " " << T.to_string();
    }
  }
}

// Four factors take the row-by-row step rather than the fused one of up to three.
TEST(model_cheyette, zero_skew_is_the_markovian_hjm_model_for_many_factors) {
  const auto hjm = constant_parameters({0.01, 0.1, 0.5, 1.5}, {0.008, 0.006, 0.005, 0.004}, uniform_correlation(4, 0.25));
  const auto dates = monthly_dates(13, 1);
  const auto p = cheyette(hjm, {0.0, 0.0, 0.0, 0.0});
  const model_cheyette c(*p, valuation, dates, false, false);
  const model_markovian_hjm h(*hjm, valuation, dates, false, {});
  const std::size_t paths = 32;
  std::mt19937_64 rng(5);
  matrix<double> xc(28, paths, 0.0), pc, xh(5, paths, 0.0), ph;
  vector<double> oc(paths), oh(paths);
  for (std::size_t step = 1; step < dates.size(); ++step) {
    const auto w = normals(4, paths, rng);
    c.simulation_step(nullptr, step, w, pc, xc);
    h.simulation_step(nullptr, step, w, ph, xh);
    for (std::size_t q = 0; q < paths; ++q) {
      for (std::size_t f = 0; f < 4; ++f) EXPECT_NEAR(xc(f, q), xh(f, q), 1e-12);
      EXPECT_NEAR(xc(24, q), xh(4, q), 1e-12) << step;
    }
    c.conditional_price(xc, dates[step], dates.back(), oc);
    h.conditional_price(xh, dates[step], dates.back(), oh);
    for (std::size_t q = 0; q < paths; ++q) ASSERT_NEAR(oc[q], oh[q], 1e-12) << step;
  }
}

TEST(model_cheyette, zero_skew_pde_coefficients_are_the_hjm_ones_and_skew_scales_the_diffusion) {
  const auto hjm = constant_parameters({0.03, 0.4}, {0.01, 0.007}, uniform_correlation(2, 0.2));
  const auto dates = monthly_dates(13, 1);
  const model_markovian_hjm h(*hjm, valuation, dates, false, {});
  std::vector<std::shared_ptr<const space_grid>> grids;
  for (std::size_t f = 0; f < 2; ++f)
    grids.push_back(std::make_shared<const space_grid>(space_grid::uniform(-0.06, 0.06, 41)));
  auto make_out = [] {
    std::vector<std::shared_ptr<const pde_model_coefficients>> out;
    for (std::size_t f = 0; f < 2; ++f)
      out.push_back(std::make_shared<const pde_model_coefficients>(std::vector<std::size_t>{41}, true));
    return out;
  };
  for (double skew : {0.0, 10.0}) {
    const auto p = cheyette(hjm, {skew, -skew});
    const model_cheyette c(*p, valuation, dates, false, false);
    for (std::size_t k : {1u, 6u, 11u}) {
      const auto oc = make_out(), oh = make_out();
      c.coefficients(oc, grids, dates[k], dates[k + 1]);
      h.coefficients(oh, grids, dates[k], dates[k + 1]);
      for (std::size_t f = 0; f < 2; ++f)
        for (std::size_t q = 0; q < 41; ++q) {
          EXPECT_NEAR(oc[f]->reaction().data()[q], oh[f]->reaction().data()[q], 1e-12);
          EXPECT_NEAR(oc[f]->convection().data()[q], oh[f]->convection().data()[q], 1e-12);
          const double dc = oc[f]->diffusion().data()[q], dh = oh[f]->diffusion().data()[q];
          if (skew == 0.0) {
            EXPECT_NEAR(dc, dh, 1e-12 * dh) << k << " " << f << " " << q;
          }
        }
      if (skew == 0.0) continue;
      // Positive skew on factor 0: more diffusion at high rates than at low ones; factor 1 the reverse.
      EXPECT_GT(oc[0]->diffusion().data()[40], oc[0]->diffusion().data()[0]) << k;
      EXPECT_LT(oc[1]->diffusion().data()[40], oc[1]->diffusion().data()[0]) << k;
    }
  }
}

TEST(model_cheyette, volatility_of_the_calibration_grid) {
  const auto hjm = constant_parameters({0.03}, {0.01}, uniform_correlation(1, 0.0));
  const auto dates = monthly_dates(13, 1);
  for (double level : {0.0, 0.5}) {
    const auto p = cheyette(hjm, {4.0}, level);
    const model_cheyette m(*p, valuation, dates, false, false);
    const std::size_t i = 7;
    const double bi = m.variance(dates[i]), inc = std::sqrt(bi - m.variance(dates[i - 1]));
    const double cap = 1.0 + 5.0 * std::expm1(bi);
    const vector<double> x{-0.5, 0.0, 0.001, 1.0}, y{0.2, -0.1};
    matrix<double> out(level == 0.0 ? 1 : 2, 4);
    m.volatility(i, x, y, out);
    for (std::size_t r = 0; r < out.rows(); ++r)
      for (std::size_t c = 0; c < 4; ++c) {
        const double raw = level == 0.0 ? 1.0 + x[c] : std::fabs(1.0 + level / 4.0 * y[r] + x[c]);
        EXPECT_DOUBLE_EQ(out(r, c), inc * std::min(raw, cap)) << level << " " << r << " " << c;
      }
  }
}

// Monte Carlo of the quasi-Gaussian SDEs of the class comment on a fine Euler grid, written
// here from the formulas (constant kappa and sigma: D = e^{-kappa t}, I = (1 - D)/kappa),
// against the model's state-matrix conditional price: E[e^{-int (r - f(0,.))} P(t,T)/(P(0,T)/P(0,t))] = 1.
TEST(model_cheyette, conditional_price_is_a_martingale_under_the_model_sdes) {
  struct scenario {
    std::vector<double> kappa, sigma, skew;
    double rho;
  };
  const scenario cases[] = {{{0.03}, {0.01}, {20.0}, 0.0},
                            {{0.03}, {0.01}, {-20.0}, 0.0},
                            {{0.02, 0.5}, {0.008, 0.006}, {15.0, -10.0}, 0.3}};
  const auto dates = monthly_dates(61, 1);  // five years monthly
  const std::size_t paths = 20000, per_month = 20;
  for (const auto& sc : cases) {
    const std::size_t n = sc.kappa.size();
    const auto hjm = constant_parameters(sc.kappa, sc.sigma, uniform_correlation(n, sc.rho));
    const auto p = cheyette(hjm, sc.skew);
    const model_cheyette m(*p, valuation, dates, false, false);
    std::mt19937_64 rng(2024);
    std::normal_distribution<double> z;
    std::vector<double> x(n * paths, 0.0), y(n * n * paths, 0.0), integral(paths, 0.0);
    double t = 0.0, B = 0.0;
    matrix<double> states(n * (n + 3), paths, 0.0);
    vector<double> out(paths);
    for (std::size_t month = 1; month < dates.size(); ++month) {
      const double dt = m.hjm_model()->time(dates[month]) - m.hjm_model()->time(dates[month - 1]);
      const double h = dt / per_month;
      for (std::size_t sub = 0; sub < per_month; ++sub) {
        const double cap = 1.0 + 5.0 * std::expm1(B);
        for (std::size_t q = 0; q < paths; ++q) {
          double e[2], mult[2];
          e[0] = z(rng);
          e[1] = n > 1 ? sc.rho * e[0] + std::sqrt(1 - sc.rho * sc.rho) * z(rng) : 0.0;
          double r0 = 0.0, r1 = 0.0;
          for (std::size_t f = 0; f < n; ++f) {
            mult[f] = std::min(std::fabs(1.0 + sc.skew[f] * x[f * paths + q]), cap);
            r0 += x[f * paths + q];
          }
          double nx[2];
          for (std::size_t f = 0; f < n; ++f) {
            double drift = -sc.kappa[f] * x[f * paths + q];
            for (std::size_t g = 0; g < n; ++g) drift += y[(f * n + g) * paths + q];
            nx[f] = x[f * paths + q] + drift * h + sc.sigma[f] * mult[f] * std::sqrt(h) * e[f];
          }
          for (std::size_t f = 0; f < n; ++f)
            for (std::size_t g = 0; g < n; ++g) {
              double& v = y[(f * n + g) * paths + q];
              const double c = f == g ? 1.0 : sc.rho;
              v += (sc.sigma[f] * mult[f] * c * sc.sigma[g] * mult[g] - (sc.kappa[f] + sc.kappa[g]) * v) * h;
            }
          for (std::size_t f = 0; f < n; ++f) {
            x[f * paths + q] = nx[f];
            r1 += nx[f];
          }
          integral[q] += 0.5 * (r0 + r1) * h;
        }
        B += sc.sigma[0] * sc.sigma[0] * sc.skew[0] * sc.skew[0] * std::exp(2 * sc.kappa[0] * t) * h;
        t += h;
      }
      if (month % 12 != 0) continue;
      // The model's state: X = x/D, Y = y/(D D), x_model = X - Y I.
      std::vector<double> D(n), I(n);
      for (std::size_t f = 0; f < n; ++f) {
        D[f] = std::exp(-sc.kappa[f] * t);
        I[f] = -std::expm1(-sc.kappa[f] * t) / sc.kappa[f];
      }
      for (std::size_t q = 0; q < paths; ++q)
        for (std::size_t f = 0; f < n; ++f) {
          double v = x[f * paths + q] / D[f];
          for (std::size_t g = 0; g < n; ++g) {
            const double Y = y[(f * n + g) * paths + q] / (D[f] * D[g]);
            states(n + f * n + g, q) = Y;
            v -= Y * I[g];
          }
          states(f, q) = v;
        }
      for (double tenor : {1.0, 10.0}) {
        const datetime T(dates[month].value() + 365.0 * tenor);
        m.conditional_price(states, dates[month], T, out);
        double sum = 0.0, sum2 = 0.0;
        for (std::size_t q = 0; q < paths; ++q) {
          const double v = std::exp(out[q] - integral[q]);
          sum += v;
          sum2 += v * v;
        }
        const double mean = sum / paths, se = std::sqrt((sum2 / paths - mean * mean) / paths);
        EXPECT_LT(std::fabs(mean - 1.0), 3.0 * se) << "factors " << n << " skew " << sc.skew[0] << " t " << t
                                                   << " tenor " << tenor << " mean " << mean << " se " << se;
      }
    }
  }
}

}  // namespace
}  // namespace tarvex
