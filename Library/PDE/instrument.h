#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/tensor.h"

namespace tarvex {


// A product priced on a PDE grid: it acts on its own slice of the solution at the two
// ends of every step. Slices hold the number of results in front when there are at
// least two, then the space dimensions. The market list holds one object per diffusion,
// already set to the date handed in, answering per grid node; life-cycle records
// (exercises, fixings) derive from life_cycle_data.
class instrument {
 public:
  virtual ~instrument() = default;
  // Number of solutions this instrument needs.
  virtual std::size_t number_of_results() const = 0;
  // Before the step that leaves `date` (payoffs, exercise on a backward grid).
  virtual void start_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                             tensor<double>& slice) const = 0;
  // After the step that reaches `date`; `life_cycle` may be null.
  virtual void end_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                           const std::shared_ptr<life_cycle_data>& life_cycle, tensor<double>& slice) const = 0;
};

}  // namespace tarvex
