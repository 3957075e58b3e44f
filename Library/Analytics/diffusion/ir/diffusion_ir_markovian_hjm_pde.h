#pragma once
#include <memory>
#include <vector>

#include "Analytics/diffusion/ir/diffusion_ir.h"

namespace tarvex {

class model_markovian_hjm;
class parameter_markovian_hjm;
class space_grid;
class pde_model_coefficients;

// Interest rates under the Markovian HJM model for the PDE driver: one space grid per
// factor in the PDE variable y = x - E x. Its states are the grid nodes (rows 0 … n-1
// hold each node's y per factor, row n a zero numeraire row, so that discounting is
// today's curve: the PDE solution is the value times P(0, t)); the simulated curve
// then answers ln P(t, T) on every node. The model is built for simulation on the
// dates handed in merged with the parameter dates, so its model dates are its
// simulation dates. It does not simulate paths.
class diffusion_ir_markovian_hjm_pde : public diffusion_ir {
 public:
  diffusion_ir_markovian_hjm_pde(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve,
                                 const std::shared_ptr<const parameter_markovian_hjm>& parameters,
                                 const std::vector<std::shared_ptr<const space_grid>>& grids);
  ~diffusion_ir_markovian_hjm_pde() override;

  void initial_states(vector<double>& states) const override;
  // Not served: this diffusion only feeds the PDE driver.
  void propagate(matrix<double>& states, matrix<double>& states_previous, std::uint64_t step,
                 const matrix<double>& draws,
                 const std::shared_ptr<const change_of_measure>& measure_change) const override;
  std::uint64_t number_of_states() const override;
  std::uint64_t number_of_factors() const override;
  // ln P(t, T) at the nodes whose y the states hold.
  void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
              const datetime& T) const override;
  std::uint64_t log_normalized_discounting_index() const override;
  // The model's coefficients on this diffusion's grids (factor f on grid f; with two
  // or three factors each is spread over the product grid, grid 0 fastest). Not thread-safe:
  // uses buffers of the diffusion.
  void coefficients(const std::vector<std::shared_ptr<const pde_model_coefficients>>& out, const datetime& from,
                    const datetime& to) const override;

  const model_markovian_hjm& model() const { return *model_; }
  const std::vector<std::shared_ptr<const space_grid>>& grids() const { return grids_; }

 private:
  std::shared_ptr<const parameter_markovian_hjm> parameters_;
  std::shared_ptr<const model_markovian_hjm> model_;
  std::vector<std::shared_ptr<const space_grid>> grids_;
  // Per factor f: n one-dimensional coefficient objects on grid f (the model fills all
  // factors on the grids it is given; only entry f is kept).
  std::vector<std::vector<std::shared_ptr<const pde_model_coefficients>>> line_coefficients_;
};

}  // namespace tarvex
