#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Util/datetime.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class change_of_measure;
class parameter_lognormal;

// The multi-factor lognormal model of a spot on a grid of simulation dates: the log
// spot moves by sum_f v_f Z_f over a step, Z correlated by the parameter set's
// correlation, v_f the factor's standard deviation over the step. Built on a parameter
// set that must outlive it.
//
// Which volatility row a piece of a step takes: as in the other models of this folder,
// the piece (a, b] takes the row of the first volatility date not before b, so row r
// covers (d_{r-1}, d_r]; the step before the first date starts at the valuation date.
class model_lognormal {
 public:
  model_lognormal(const parameter_lognormal& parameter, const datetime& valuation_date,
                  const std::vector<datetime>& dates);

  const parameter_lognormal& parameter() const noexcept { return *parameter_; }
  const std::vector<datetime>& dates() const noexcept { return dates_; }
  const std::vector<datetime>& model_dates() const noexcept { return model_dates_; }
  // v(j, f) on the simulation dates.
  const matrix<double>& incremental_volatilities() const noexcept { return incremental_volatilities_; }
  // The variance V_j = v_j' rho v_j of the log spot over step j.
  double step_variance(std::size_t j) const { return step_variances_[j]; }

  // out(j, f) = the standard deviation of factor f's increment from dates[j-1] (the
  // valuation date for j = 0) to dates[j]; out sized dates x factors by the caller.
  void incremental_volatility_sv(const std::vector<datetime>& dates, matrix<double>& out) const;

  // Adds sum_f v_f (Z_f - drift(k, f)) - V_k / 2 to the single state row of every path;
  // the -V/2 keeps exp(state) a martingale under the step's measure.
  void simulation_step(const std::shared_ptr<const change_of_measure>& measure_change, std::uint64_t k,
                       const matrix<double>& draws, matrix<double>& states) const;

 private:
  const parameter_lognormal* parameter_;
  datetime valuation_date_;
  std::vector<datetime> dates_;
  std::vector<datetime> model_dates_;
  std::vector<std::size_t> volatilities_index_;
  matrix<double> incremental_volatilities_;
  std::vector<double> step_variances_;
};

}  // namespace tarvex
