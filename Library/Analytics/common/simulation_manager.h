#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class change_of_measure;
class diffusion;
class random_config;
class random_manager;
class states_variables;

// Runs one batch of a correlated multi-asset Monte Carlo simulation.
//
// Owns the states of every diffusion (one aligned buffer), the random manager and the
// Cholesky factor of the factor correlation. Calling order: construct,
// states_initialize(), then propagate(1), propagate(2), … in increasing order, reading
// data(i) between steps. The market objects view the manager's storage and must not
// outlive it. One manager runs on one thread; independent managers (batches) may run
// in parallel over the same immutable diffusions.
class simulation_manager {
 public:
  // Diffusion d owns the factor rows f_0 + … + f_{d-1} onwards of the F x F
  // correlation (F = Σ f_d), in diffusion order. One change of measure per diffusion
  // (a null entry simulates the diffusion under its own measure). The correlation must
  // be symmetric with a unit diagonal and positive definite; the configuration must
  // draw F brownians on dates.size() simulation dates; dates[0] is the initial date.
  simulation_manager(std::vector<std::shared_ptr<const diffusion>>&& diffusions,
                     std::vector<std::shared_ptr<const change_of_measure>>&& changes_of_measure,
                     const matrix<double>& correlation, const std::shared_ptr<const random_config>& config,
                     const std::vector<datetime>& dates);
  ~simulation_manager();
  simulation_manager(const simulation_manager&) = delete;
  simulation_manager& operator=(const simulation_manager&) = delete;

  // Every diffusion's initial states into its current block; the market objects are
  // finalised at dates()[0]. May be called again to run the dates again (up-front
  // draws repeat, per-step generators continue their sequence).
  void states_initialize();
  // Advances all states to dates()[step] and finalizes every market object; step must
  // be 1 right after states_initialize() and one more than the last step afterwards.
  void propagate(std::size_t step);

  // The simulated market object of diffusion i at the last propagated date.
  const std::shared_ptr<const market_data>& data(std::size_t i) const;

  const std::vector<datetime>& dates() const { return dates_; }
  const std::vector<std::shared_ptr<const diffusion>>& diffusions() const { return diffusions_; }
  std::size_t number_of_paths() const;
  // The lower Cholesky factor L of the factor correlation (correlation = L Lᵀ).
  const matrix<double>& correlation() const { return correlation_; }

 private:
  std::vector<std::shared_ptr<const diffusion>> diffusions_;
  std::vector<std::shared_ptr<const change_of_measure>> changes_of_measure_;
  std::vector<datetime> dates_;
  std::vector<std::shared_ptr<const market_data>> market_data_;
  std::shared_ptr<states_variables> states_;
  std::unique_ptr<random_manager> random_manager_;
  matrix<double> correlation_;
  std::vector<std::size_t> factor_offsets_;  // first draw row of each diffusion
  std::vector<std::size_t> factors_;
  std::size_t next_step_ = 0;  // 0 until states_initialize()

  void factorize_correlation();
};

}  // namespace tarvex
