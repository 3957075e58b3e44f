#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "PDE/instrument.h"
#include "PDE/pde_model_coefficients.h"
#include "PDE/pde_scheme.h"
#include "PDE/pde_storage.h"
#include "PDE/space_grid.h"
#include "PDE/time_grid.h"
#include "Vectorization/matrix.h"

namespace tarvex {

class diffusion;

// Finite-difference pricing driver: steps a scheme over the time grid, asks the
// diffusions for the coefficients of each step and lets the instruments act on their
// slices of the solution at both ends of every step.
//
// The market objects the instruments receive are the diffusions' own, built over state
// matrices that hold, per node of the product grid, the node's coordinate on each grid
// (a diffusion's factors take consecutive grids, the first diffusion grid 0); rows past
// its factors are zero. Before the start-of-step hooks every object is set to the step's
// start date, before the end-of-step hooks to its end date. A forward run starts from a
// unit mass at the initial node of every result and steps the density with the transposed
// matrices of the backward run, so it prices European payoffs alike; an exercise decision
// needs the continuation value, which only a backward run carries, so Bermudans run
// backward only (pde_swaption refuses a forward Bermudan).
class pde_manager {
 public:
  // Diffusions must outlive the manager. The fifth to eighth arguments go to
  // pde_scheme::create_scheme (extents of the solution, boundary flags, scheme, start-up).
  pde_manager(const std::vector<std::shared_ptr<const diffusion>>& diffusions,
              const std::shared_ptr<const time_grid>& grid, const std::vector<std::size_t>& initial_indices,
              const std::vector<std::shared_ptr<const space_grid>>& space_grids,
              const std::vector<std::size_t>& scheme_dimensions, const std::vector<bool>& boundaries,
              pde_scheme_type type, bool rannacher, const matrix<double>& correlation);

  // Prices the instruments; values has one entry per grid date, life_cycle is empty or
  // has one record per instrument.
  void run(const std::vector<std::shared_ptr<const instrument>>& instruments, const std::vector<double>& values,
           const std::vector<std::shared_ptr<life_cycle_data>>& life_cycle);
  // One present value per result of the last run (size() of them).
  void pv(double* out) const;

  // Extents of the solution: the grids' sizes from the last grid to the first.
  const std::vector<std::size_t>& dimensions() const noexcept { return dimensions_; }
  const std::vector<datetime>& dates() const noexcept { return time_grid_->dates(); }
  std::uint64_t size() const noexcept { return size_; }

 private:
  const std::vector<std::shared_ptr<const diffusion>>& diffusions_;
  std::shared_ptr<const time_grid> time_grid_;
  const std::vector<std::size_t>& initial_indices_;
  std::vector<std::shared_ptr<const space_grid>> space_grids_;
  matrix<double> correlation_;
  std::vector<std::shared_ptr<pde_model_coefficients>> coefficients_;
  std::shared_ptr<pde_scheme> scheme_;
  std::vector<std::size_t> dimensions_;
  std::shared_ptr<pde_storage> storage_;
  pde_coefficient_views coefficients_views_;
  std::uint64_t size_ = 0;
};

// Row-major offset (last index fastest) of `indices` in a tensor of extents `dimensions`;
// missing trailing indices count as 0.
std::size_t linearized_index(const std::vector<std::size_t>& indices, const std::vector<std::size_t>& dimensions);

}  // namespace tarvex
