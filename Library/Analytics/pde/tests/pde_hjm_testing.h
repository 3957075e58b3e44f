#pragma once
// Swaptions priced by the PDE driver on the Markovian HJM model: one place that builds
// the grids, the diffusion and the manager for the tests.
#include <cmath>
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm_pde.h"
#include "Analytics/models/model_markovian_hjm.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Analytics/pde/pde_manager.h"
#include "Instrument/interest_rate_swap.h"
#include "Instrument/pde_swaption.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"
#include "Util/tenor.h"

namespace tarvex::pde_testing {

inline const datetime today(2026, 1, 5);

inline std::shared_ptr<const discount_curve> upward_curve() {
  return std::make_shared<const interpolated_discount_curve>(
      today, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

inline datetime add(const datetime& d, const char* t) { return datetime_helper::add_tenor(d, tenor(t), 1); }

inline std::shared_ptr<const parameter_markovian_hjm> hjm(const std::vector<double>& kappa,
                                                          const std::vector<double>& sigma,
                                                          const matrix<double>& correlation) {
  const std::size_t n = kappa.size();
  matrix<double> k(1, n), s(1, n);
  for (std::size_t f = 0; f < n; ++f) {
    k(0, f) = kappa[f];
    s(0, f) = sigma[f];
  }
  return std::make_shared<const parameter_markovian_hjm>(k, s, correlation, std::vector<datetime>{today},
                                                         std::vector<datetime>{today}, nullptr,
                                                         parameter_markovian_hjm_type::mean_reversion);
}

// Constant parameters, every pair of factors correlated by rho.
inline std::shared_ptr<const parameter_markovian_hjm> hjm(const std::vector<double>& kappa,
                                                          const std::vector<double>& sigma, double rho = 0.0) {
  matrix<double> c(kappa.size(), kappa.size(), rho);
  for (std::size_t f = 0; f < kappa.size(); ++f) c(f, f) = 1.0;
  return hjm(kappa, sigma, c);
}

// Three factors from short to long memory, the pair correlations all different.
inline std::shared_ptr<const parameter_markovian_hjm> three_factor_hjm() {
  matrix<double> c(3, 3, 1.0);
  c(0, 1) = c(1, 0) = -0.4;
  c(0, 2) = c(2, 0) = 0.3;
  c(1, 2) = c(2, 1) = -0.2;
  return hjm({0.03, 0.3, 0.9}, {0.007, 0.005, 0.004}, c);
}

// Underlyings of a swaption exercisable on the annual fixed-leg dates from `first` (in
// years) to `last`, into the swap ending `end` years from today.
inline std::vector<std::shared_ptr<const interest_rate_swap>> underlyings(const std::shared_ptr<const discount_curve>& c,
                                                                          int first, int last, int end) {
  std::vector<std::shared_ptr<const interest_rate_swap>> out;
  const datetime maturity = datetime_helper::add_tenor(today, tenor(end, tenor::unit::years), 1);
  for (int y = first; y <= last; ++y)
    out.push_back(std::make_shared<const interest_rate_swap>(
        c, datetime_helper::add_tenor(today, tenor(y, tenor::unit::years), 1), maturity, tenor("1Y"), nullptr));
  return out;
}

// Nodes on [-half, half] with half sinh(b u) / sinh(b) for u uniform on [-1, 1]: spacing
// at 0 about b / sinh(b) of the uniform one, so that early exercises, whose states are
// narrower than the last one's, still see enough nodes. b = 0 is uniform.
inline space_grid stretched_axis(double half, std::size_t points, double b) {
  if (b == 0.0) return space_grid::uniform(-half, half, points);
  vector<double> y(points);
  for (std::size_t i = 0; i < points; ++i) {
    const double u = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(points - 1);
    y[i] = half * std::sinh(b * u) / std::sinh(b);
  }
  y[points / 2] = 0.0;
  return space_grid(y);
}

// Forwards to an instrument and keeps the solution after the first step and at the end.
struct keeping_final : instrument {
  std::shared_ptr<const instrument> inner;
  mutable std::vector<double> first, slice;
  explicit keeping_final(std::shared_ptr<const instrument> i) : inner(std::move(i)) {}
  std::size_t number_of_results() const override { return inner->number_of_results(); }
  void start_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                     tensor<double>& s) const override {
    inner->start_of_step(date, market, s);
  }
  void end_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                   const std::shared_ptr<life_cycle_data>& cycle, tensor<double>& s) const override {
    inner->end_of_step(date, market, cycle, s);
    if (first.empty()) first.assign(s.data(), s.data() + s.size());
    if (date == today) slice.assign(s.data(), s.data() + s.size());
  }
};

struct pde_run {
  double price;
  std::size_t space, time;
};

// Backward (or forward, European only) PDE price on `points` nodes per factor spanning
// `width` standard deviations of the state at the last exercise each side, with steps
// of at most `step_days` (the PDE variable is the decayed state z).
inline pde_run pde_price(const std::shared_ptr<const parameter_markovian_hjm>& p,
                         const std::shared_ptr<const discount_curve>& c, const std::shared_ptr<const pde_swaption>& option,
                         std::size_t points, double step_days, bool forward = false, double width = 6.0,
                         double stretch = 0.0, bool start_up = true,
                         const std::shared_ptr<const instrument>& wrapped = nullptr) {
  const auto exercises = option->exercise_dates();
  std::vector<datetime> events = exercises;
  events.insert(events.begin(), today);
  const auto grid = std::make_shared<const time_grid>(time_grid_config(0, forward ? 0 : 1, true, step_days, 1, 1.0),
                                                      today, exercises.back(), std::vector<datetime>{}, events);
  const std::size_t n = p->number_of_factors();
  const model_markovian_hjm analytic(*p, today, {}, true, {exercises.back()});
  matrix<double> cov;
  diffusion_ir_markovian_hjm_pde::state_covariance(analytic, exercises.back(), cov);
  std::vector<std::shared_ptr<const space_grid>> grids;
  for (std::size_t f = 0; f < n; ++f) {
    const double half = width * std::sqrt(cov(f, f));
    grids.push_back(std::make_shared<const space_grid>(stretched_axis(half, points, stretch)));
  }
  const std::vector<std::shared_ptr<const diffusion>> diffusions{
      std::make_shared<const diffusion_ir_markovian_hjm_pde>(grid->dates(), c, p, grids)};
  const std::vector<std::size_t> middle(n, points / 2), extents(n, points);
  pde_manager manager(diffusions, grid, middle, grids, extents, std::vector<bool>(n, true),
                      n == 1 ? pde_scheme_type::crank_nicolson : pde_scheme_type::craig_sneyd, start_up,
                      p->correlation());
  manager.run({wrapped ? wrapped : option}, std::vector<double>(grid->size(), 0.0), {});
  double pv = 0.0;
  manager.pv(&pv);
  return {pv, points, grid->size()};
}

}  // namespace tarvex::pde_testing
