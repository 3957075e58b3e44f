#include "Analytics/change_of_measure/quanto_change_of_measure.h"

#include "Analytics/change_of_measure/change_of_measure.h"
#include "Analytics/diffusion/common/diffusion.h"
#include "Analytics/diffusion/fx/diffusion_fx_lognormal.h"
#include "Analytics/models/model_lognormal.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Core/check.h"

namespace tarvex {

std::shared_ptr<const change_of_measure> quanto_change_of_measure(const matrix<double>& factor_fx_correlation,
                                                                  const model_lognormal& fx) {
  const auto& v = fx.incremental_volatilities();
  TARVEX_CHECK(factor_fx_correlation.columns() == v.columns(), "factor_fx_correlation columns ",
               factor_fx_correlation.columns(), " is differents from FX number of factors ", v.columns());
  return std::make_shared<const change_of_measure>(matrix<double>(factor_fx_correlation), matrix<double>(v));
}

std::vector<std::shared_ptr<const change_of_measure>> domestic_measure_changes(
    const std::vector<std::shared_ptr<const diffusion>>& diffusions, const matrix<double>& correlation,
    const std::vector<foreign_diffusion>& foreign) {
  std::vector<std::size_t> first(diffusions.size() + 1, 0);
  for (std::size_t d = 0; d < diffusions.size(); ++d) first[d + 1] = first[d] + diffusions[d]->number_of_factors();
  TARVEX_CHECK(correlation.rows() == first.back() && correlation.columns() == first.back(), "correlation is ",
               correlation.rows(), " x ", correlation.columns(), " for ", first.back(), " factors");
  std::vector<std::shared_ptr<const change_of_measure>> out(diffusions.size());
  for (const auto& entry : foreign) {
    TARVEX_CHECK(entry.diffusion < diffusions.size() && entry.fx < diffusions.size() && entry.diffusion != entry.fx,
                 "foreign diffusion ", entry.diffusion, " with FX ", entry.fx, " in a run of ", diffusions.size());
    const auto* fx = dynamic_cast<const diffusion_fx_lognormal*>(diffusions[entry.fx].get());
    TARVEX_CHECK_TEXT(fx != nullptr, "diffusion ", entry.fx, " is not a lognormal FX diffusion");
    const std::size_t rows = first[entry.diffusion + 1] - first[entry.diffusion];
    const std::size_t columns = first[entry.fx + 1] - first[entry.fx];
    matrix<double> block(rows, columns);
    for (std::size_t i = 0; i < rows; ++i)
      for (std::size_t j = 0; j < columns; ++j) block(i, j) = correlation(first[entry.diffusion] + i, first[entry.fx] + j);
    out[entry.diffusion] = quanto_change_of_measure(block, fx->model());
  }
  return out;
}

}  // namespace tarvex
