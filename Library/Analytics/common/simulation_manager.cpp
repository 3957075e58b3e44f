#include "Analytics/common/simulation_manager.h"

#include "Analytics/common/random_config.h"
#include "Analytics/common/random_manager.h"
#include "Analytics/common/states_variables.h"
#include "Analytics/diffusion/common/diffusion.h"
#include "Core/check.h"
#include "Math/cholesky_decomposition.h"
#include "Random/random.h"
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
  // A failed factorisation is not reported: the correlation is the client's to check.
  cholesky_decomposition(correlation_.data(), total_factors, 'L');
  for (std::size_t i = 0; i < total_factors; ++i)
    for (std::size_t j = i + 1; j < total_factors; ++j) correlation_(i, j) = 0.0;

  const auto& settings = *config->settings();
  TARVEX_CHECK(settings.number_of_brownians() == total_factors, "random configuration draws ",
               settings.number_of_brownians(), " brownians for ", total_factors, " factors");
  if (random::generate_upfront_onley(config->main_generator_type()))
    TARVEX_CHECK(settings.number_of_simulation_dates() >= dates_.size(), "up-front draws cover ",
                 settings.number_of_simulation_dates(), " dates for ", dates_.size(), " simulation dates");
  random_manager_ = std::make_unique<random_manager>(config);

  states_ = std::make_shared<states_variables>(sizes, random_manager_->number_of_paths());
  for (std::size_t d = 0; d < diffusions_.size(); ++d)
    market_data_.push_back(
        diffusions_[d]->create_market_data(diffusions_[d], states_->current(d), states_->previous(d), market_data_));
}

simulation_manager::~simulation_manager() = default;

std::size_t simulation_manager::number_of_paths() const { return states_->number_of_paths(); }

void simulation_manager::states_initialize() {
  for (std::size_t d = 0; d < diffusions_.size(); ++d) {
    matrix<double> block = states_->current(d);
    vector<double> flat = vector<double>::view(block.data(), block.size());
    diffusions_[d]->initial_states(flat);
  }
}

void simulation_manager::propagate(std::size_t step) {
  TARVEX_CHECK(step >= 1 && step < dates_.size(), "step ", step, " outside 1 … ", dates_.size() - 1);
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
}

const std::shared_ptr<const market_data>& simulation_manager::data(std::size_t i) const {
  TARVEX_CHECK(i < market_data_.size(), "market data ", i, " of ", market_data_.size());
  return market_data_[i];
}

}  // namespace tarvex
