#include "Analytics/common/simulation_manager.h"

#include <cmath>
#include <limits>

#include "Analytics/common/random_config.h"
#include "Analytics/common/random_manager.h"
#include "Analytics/common/states_variables.h"
#include "Analytics/diffusion/common/diffusion.h"
#include "Core/check.h"
#include "Math/cholesky_decomposition.h"
#include "Random/random_settings.h"

namespace tarvex {

simulation_manager::simulation_manager(std::vector<std::shared_ptr<const diffusion>>&& diffusions,
                                       std::vector<std::shared_ptr<const change_of_measure>>&& changes_of_measure,
                                       const matrix<double>& correlation,
                                       const std::shared_ptr<const random_config>& config,
                                       const std::vector<datetime>& dates)
    : diffusions_(std::move(diffusions)), changes_of_measure_(std::move(changes_of_measure)), dates_(dates) {
  TARVEX_CHECK(!diffusions_.empty(), "a simulation needs at least one diffusion");
  TARVEX_CHECK(changes_of_measure_.size() == diffusions_.size(), "changes of measure size ",
               changes_of_measure_.size(), " is different from diffusions size ", diffusions_.size());
  TARVEX_CHECK(!dates_.empty(), "a simulation needs its initial date");
  TARVEX_CHECK(config != nullptr, "a simulation needs a random configuration");

  std::vector<std::size_t> sizes;
  std::size_t total_factors = 0;
  for (const auto& d : diffusions_) {
    TARVEX_CHECK(d != nullptr, "null diffusion in the simulation list");
    factor_offsets_.push_back(total_factors);
    factors_.push_back(d->number_of_factors());
    total_factors += d->number_of_factors();
    sizes.push_back(d->number_of_states());
  }

  TARVEX_CHECK(correlation.rows() == total_factors && correlation.columns() == total_factors, "correlation is ",
               correlation.rows(), " x ", correlation.columns(), " for ", total_factors, " factors");
  correlation_ = correlation;
  factorize_correlation();

  const auto& settings = *config->settings();
  TARVEX_CHECK(settings.number_of_brownians() == total_factors, "random configuration draws ",
               settings.number_of_brownians(), " brownians for ", total_factors, " factors");
  // Up-front generators draw exactly this many blocks, and per-step ones would
  // silently number their steps against another grid: the two must describe one run.
  TARVEX_CHECK_TEXT(settings.number_of_simulation_dates() == dates_.size(),
                    "simulation_manager: the random configuration has ", settings.number_of_simulation_dates(),
                    " simulation dates, the simulation ", dates_.size());
  random_manager_ = std::make_unique<random_manager>(config);

  states_ = std::make_shared<states_variables>(sizes, random_manager_->number_of_paths());
  for (std::size_t d = 0; d < diffusions_.size(); ++d)
    market_data_.push_back(
        diffusions_[d]->create_market_data(diffusions_[d], states_->current(d), states_->previous(d), market_data_));
}

simulation_manager::~simulation_manager() = default;

std::size_t simulation_manager::number_of_paths() const { return states_->number_of_paths(); }

// Cholesky only reads the lower triangle, so symmetry and the unit diagonal are checked
// first: a covariance or a one-sided edit would otherwise be simulated as something else.
// The tolerance is the parameter sets' (one ulp of 1). A failed factorisation leaves a
// factor whose L Lᵀ is not the input (NaN rows for a negative pivot).
void simulation_manager::factorize_correlation() {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  const std::size_t n = correlation_.rows();
  for (std::size_t i = 0; i < n; ++i) {
    TARVEX_CHECK_TEXT(std::fabs(correlation_(i, i) - 1.0) <= eps, "simulation_manager: correlation entry (", i,
                      ", ", i, ") is ", correlation_(i, i), ", expected 1 on the diagonal");
    for (std::size_t j = 0; j < i; ++j)
      TARVEX_CHECK_TEXT(std::fabs(correlation_(i, j) - correlation_(j, i)) <= eps,
                        "simulation_manager: correlation entries (", i, ", ", j, ") = ", correlation_(i, j), " and (",
                        j, ", ", i, ") = ", correlation_(j, i), " differ, expected a symmetric matrix");
  }
  TARVEX_CHECK_TEXT(cholesky_decomposition(correlation_.data(), n, 'L'),
                    "simulation_manager: the correlation of the ", n, " factors is not positive definite");
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) correlation_(i, j) = 0.0;
}

// The initial date is finalised like a propagated one, so the market objects answer at
// dates()[0] right away, also when a manager is initialised again for a new run.
void simulation_manager::states_initialize() {
  for (std::size_t d = 0; d < diffusions_.size(); ++d) {
    matrix<double> block = states_->current(d);
    vector<double> flat = vector<double>::view(block.data(), block.size());
    diffusions_[d]->initial_states(flat);
  }
  for (const auto& m : market_data_) m->finalize(dates_.front());
  next_step_ = 1;
}

// Each step starts from the states of the step before: any other order (or a start
// from storage that was never initialised) would simulate a different process.
void simulation_manager::propagate(std::size_t step) {
  TARVEX_CHECK_TEXT(next_step_ > 0, "simulation_manager: propagate(", step, ") before states_initialize()");
  TARVEX_CHECK_TEXT(step == next_step_, "simulation_manager: propagate(", step, ") out of order, expected propagate(",
                    next_step_, ")");
  TARVEX_CHECK_TEXT(step < dates_.size(), "simulation_manager: propagate(", step, ") after the last date index ",
                    dates_.size() - 1);
  const datetime& date = dates_[step];
  const matrix<double> draws = random_manager_->correlate(step, correlation_);
  const std::size_t paths = states_->number_of_paths();
  for (std::size_t d = 0; d < diffusions_.size(); ++d) {
    const matrix<double> own = matrix<double>::view(const_cast<double*>(draws.data()) + factor_offsets_[d] * paths,
                                                    factors_[d], paths);
    matrix<double> current = states_->current(d);
    matrix<double> previous = states_->previous(d);
    diffusions_[d]->propagate(current, previous, step, own, changes_of_measure_[d]);
  }
  for (const auto& m : market_data_) m->finalize(date);
  next_step_ = step + 1;
}

const std::shared_ptr<const market_data>& simulation_manager::data(std::size_t i) const {
  TARVEX_CHECK(i < market_data_.size(), "market data ", i, " of ", market_data_.size());
  return market_data_[i];
}

}  // namespace tarvex
