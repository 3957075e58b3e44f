#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"
#include "Vectorization/vector.h"

namespace tarvex {

class change_of_measure;
class discount_curve;
class survival_curve;
class equity_spot;
class fx_spot;
class pde_model_coefficients;

// Evolves the state variables of one risk factor along all paths of a batch.
//
// A state block has one row per state variable and one column per path; draws come
// as one row per factor. The simulation manager owns every block and passes views, so
// a diffusion is immutable and may serve several simulations in turn.
class diffusion {
 public:
  virtual ~diffusion() = default;

  // Sets the current states (one flat vector over the whole block) to the initial date.
  virtual void initial_states(vector<double>& states) const = 0;
  // Advances states to simulation date `step`; states_previous receives the states
  // before the step.
  virtual void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                         const matrix<double>& draws,
                         const std::shared_ptr<const change_of_measure>& measure_change) const = 0;
  virtual std::uint64_t number_of_states() const = 0;
  // Gaussian draws per path and step.
  virtual std::uint64_t number_of_factors() const = 0;
  // The simulated market object of this diffusion over the manager's state blocks.
  virtual std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const = 0;
  // PDE coefficients of one step from `from` to `to`; no diffusion of this library
  // provides them (the PDE driver works with diffusions that do).
  virtual void coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out,
                            const datetime& from, const datetime& to) const;

  const std::vector<datetime>& dates() const { return dates_; }

  // The object as the given market type, or empty when it is another type.
  static std::shared_ptr<const discount_curve> diffusion_discount_curve(const std::shared_ptr<const market_data>& d);
  static std::shared_ptr<const survival_curve> diffusion_survival_curve(const std::shared_ptr<const market_data>& d);
  static std::shared_ptr<const equity_spot> diffusion_equity_spot(const std::shared_ptr<const market_data>& d);
  static std::shared_ptr<const fx_spot> diffusion_fx_spot(const std::shared_ptr<const market_data>& d);

 protected:
  // The first simulation date is the valuation date of the simulation.
  explicit diffusion(const std::vector<datetime>& dates) : dates_(dates) {}

 private:
  std::vector<datetime> dates_;
};

}  // namespace tarvex
