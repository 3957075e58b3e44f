// PDE services of model_cheyette: the exponent of the conditional bond price on the
// calibration's (x, y) grids and the coefficients of the backward equation per factor.
#include <algorithm>
#include <cmath>
#include <vector>

#include "Analytics/models/model_cheyette.h"
#include "Core/check.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/space_grid.h"
#include "Util/datetime_helper.h"

namespace tarvex {

void model_cheyette::conditional_price(double* out, const std::vector<std::shared_ptr<const space_grid>>& grids,
                                       const datetime& t, const datetime& T) const {
  TARVEX_CHECK(grids.size() >= 3, "grids size ", grids.size(), " is less than 3");
  const auto it = std::find(dates_.begin(), dates_.end(), t);
  TARVEX_CHECK(it != dates_.end(), "date ", t.to_string(), " is not a model date");
  const std::size_t i = static_cast<std::size_t>(it - dates_.begin());
  TARVEX_CHECK(average_volatility_[i] > 0.0 && average_skewed_volatility_[i] > 0.0,
               "conditional_price on grids needs positive average volatilities at ", t.to_string());
  vector<double> g(number_of_factors());
  hjm_model_->integral_decay(T, g);
  const double ratio = average_skewed_volatility_[i] / average_volatility_[i];
  const double loading = -g[0] / ratio;
  const auto& x = grids[0]->axis();
  const auto& y = grids[2]->axis();
  details::check_size(x.size(), grids[0]->size());
  for (std::size_t r = 0; r < y.size(); ++r)
    for (std::size_t c = 0; c < x.size(); ++c) out[r * x.size() + c] = loading * x[c] - 0.5 * loading * loading * y[r];
}

void model_cheyette::coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                                  const std::vector<std::shared_ptr<const space_grid>>& grids, const datetime& from,
                                  const datetime& to) const {
  const std::size_t n = number_of_factors();
  const auto& hjm = *hjm_model_;
  // Reaction and convection are the HJM model's; the diffusion is scaled by the squared
  // local-volatility multiplier at each node.
  hjm.coefficients(out, grids, from, to);
  const std::size_t k = hjm.date_offset(from);
  const std::size_t date = datetime_helper::date_offset(from, dates_, true);
  const double cap = 1.0 + 5.0 * std::expm1(skewed_variance_[date]);
  vector<double> mu(n);
  hjm.state_drift(from, mu);
  matrix<double> c;
  hjm.states_variable_covariance(from, c);
  for (std::size_t f = 0; f < n; ++f) {
    const double b = parameter_.skew_parameter()(skew_index_[datetime_helper::date_offset(from, model_dates_, true)], f);
    double shift = mu[f];
    for (std::size_t g = 0; g < n; ++g) shift += c(f, g) * hjm.integral_decay()(k, g);
    const double D = hjm.decay()(k, f);
    const double* __restrict y = grids[f]->axis().data();
    double* __restrict d = out[f]->diffusion().data();
    for (std::size_t p = 0; p < grids[f]->size(); ++p) {
      const double m = std::min(std::fabs(1.0 + b * D * (y[p] + shift)), cap);
      d[p] *= m * m;
    }
  }
}

}  // namespace tarvex
