#pragma once
// The Markovian HJM model's per-path loops, compiled once per instruction set and picked
// by Vectorization's active level. Internal to the model.
#include <cstddef>

#include "Vectorization/vectorized_math.h"

namespace tarvex::hjm_details {

// Per-factor coefficients of one simulation step (arrays of `factors` values).
struct step_coefficients {
  const double* sv;     // incremental volatility
  const double* c;      // sv rho mm
  const double* delta;  // I(t_k) - I(t_{k-1})
  const double* u;      // mm - I(t_k) sv
  const double* drift;  // change of measure drift, or null
  double half_q;        // half the deterministic accrual of y
};

struct kernel_table {
  // Rows of `paths` doubles: draws has `factors` rows, previous and current factors + 1
  // (the last is y). previous = current, then
  // x_f -= sv_f (W_f - d_f) + c_f and y += q / 2 + sum_f Delta_f x_f,prev + u_f (W_f - d_f).
  void (*simulation_step)(std::size_t factors, std::size_t paths, const step_coefficients& k, const double* draws,
                          double* previous, double* current);
  // out[p] = -q / 2 - sum_a delta[a] states[a][p]; rows of states `paths` apart.
  void (*conditional_price)(std::size_t factors, std::size_t paths, const double* delta, double half_q,
                            const double* states, double* out);
};

// The kernels of the active level.
const kernel_table& kernels() noexcept;

}  // namespace tarvex::hjm_details
