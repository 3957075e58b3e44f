#include "Analytics/models/model_lognormal.h"

#include <algorithm>
#include <cmath>

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Core/check.h"
#include "Util/datetime_helper.h"
#include "Vectorization/details/storage.h"

namespace tarvex {

model_lognormal::model_lognormal(const parameter_lognormal& parameter, const datetime& valuation_date,
                                 const std::vector<datetime>& dates)
    : parameter_(&parameter), valuation_date_(valuation_date), dates_(dates) {
  const std::size_t n = parameter.number_of_factors();
  TARVEX_CHECK(parameter.volatilities().columns() == n, "volatilities columns ", parameter.volatilities().columns(),
               " is differents from number of factors ", n);
  TARVEX_CHECK(!parameter.volatilities_dates().empty(), "lognormal parameters need at least one volatility date");
  model_dates_ = dates_;
  datetime_helper::merge_dates(parameter.volatilities_dates(), model_dates_, model_dates_);
  volatilities_index_.resize(model_dates_.size());
  for (std::size_t u = 0; u < model_dates_.size(); ++u)
    volatilities_index_[u] = datetime_helper::date_offset(model_dates_[u], parameter.volatilities_dates(), false);
  incremental_volatilities_ = matrix<double>(dates_.size(), n, 0.0);
  incremental_volatility_sv(dates_, incremental_volatilities_);
  step_variances_.assign(dates_.size(), 0.0);
  const auto& rho = parameter.correlation();
  for (std::size_t j = 0; j < dates_.size(); ++j) {
    const double* v = incremental_volatilities_.row_data(j);
    double V = 0.0;
    for (std::size_t f = 0; f < n; ++f)
      for (std::size_t g = 0; g < n; ++g) V += v[f] * rho(f, g) * v[g];
    step_variances_[j] = V;
  }
}

void model_lognormal::incremental_volatility_sv(const std::vector<datetime>& dates, matrix<double>& out) const {
  const std::size_t n = parameter_->number_of_factors();
  TARVEX_CHECK(out.rows() == dates.size() && out.columns() == n, "out is ", out.rows(), " x ", out.columns(),
               " for ", dates.size(), " dates and ", n, " factors");
  const auto& vol_dates = parameter_->volatilities_dates();
  const auto& sigma = parameter_->volatilities();
  const auto& convention = *parameter_->day_convention();
  datetime start = valuation_date_;
  for (std::size_t j = 0; j < dates.size(); ++j) {
    const datetime end = dates[j];
    double* row = out.row(j).data();
    std::fill_n(row, n, 0.0);
    // Pieces cut at every volatility date inside the step.
    datetime a = start;
    while (a < end) {
      const auto next = std::upper_bound(vol_dates.begin(), vol_dates.end(), a);
      const datetime b = next != vol_dates.end() && *next < end ? *next : end;
      const std::size_t r = datetime_helper::date_offset(b, vol_dates, false);
      const double tau = convention.fraction(a, b);
      for (std::size_t f = 0; f < n; ++f) row[f] += tau * sigma(r, f) * sigma(r, f);
      a = b;
    }
    for (std::size_t f = 0; f < n; ++f) row[f] = std::sqrt(row[f]);
    start = std::max(start, end);
  }
}

void model_lognormal::simulation_step(const std::shared_ptr<const change_of_measure>& measure_change,
                                      std::uint64_t k, const matrix<double>& draws, matrix<double>& states) const {
  const std::size_t n = parameter_->number_of_factors(), paths = states.columns();
  TARVEX_CHECK(k >= 1 && k < dates_.size(), "simulation step ", k, " is outside 1..", dates_.size() - 1);
  TARVEX_CHECK(draws.rows() == n, "draws rows ", draws.rows(), " is differents from number of factors ", n);
  details::check_size(draws.columns(), paths);
  const double* v = incremental_volatilities_.row_data(k);
  double* __restrict x = states.row(0).data();
  for (std::size_t f = 0; f < n; ++f) {
    const double m = measure_change ? measure_change->drift(k, f) : 0.0;
    const double vf = v[f], shift = -vf * m;
    const double* __restrict z = draws.row_data(f);
    for (std::size_t p = 0; p < paths; ++p) x[p] += vf * z[p] + shift;
  }
  const double correction = -0.5 * step_variances_[k];
  for (std::size_t p = 0; p < paths; ++p) x[p] += correction;
}

}  // namespace tarvex
