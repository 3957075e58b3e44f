#pragma once
#include <memory>
#include <vector>

#include "Instrument/interest_rate_swap.h"
#include "PDE/instrument.h"

namespace tarvex {

// A European or Bermudan swaption for the PDE driver: at each exercise date the holder
// may enter the swap from that date to the end (one underlying per exercise date, the
// last the shortest). The solution is the value times today's discount factor to its
// date, so the exercise value at e is notional * max(+-V_e(P(e, .)), 0) * P(0, e), read
// per node from the first market object (a discount curve answering per node).
//
// Backward grids exercise in the start-of-step hook of each exercise date (the grid must
// carry them as event dates). Forward grids serve European swaptions only: the density
// reaching the expiry is weighted by the payoff there.
class pde_swaption : public instrument {
 public:
  // payer: pays the fixed strike. Underlyings in ascending start order, common end,
  // no payment lag. Throws on a negative notional, an exercise after the end or none.
  pde_swaption(bool payer, double notional, double strike,
               std::vector<std::shared_ptr<const interest_rate_swap>> underlyings, bool forward = false);

  std::size_t number_of_results() const override { return 1; }
  void start_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                     tensor<double>& slice) const override;
  void end_of_step(const datetime& date, const std::vector<std::shared_ptr<const market_data>>& market,
                   const std::shared_ptr<life_cycle_data>& life_cycle, tensor<double>& slice) const override;

  // The exercise dates: the underlyings' starts.
  std::vector<datetime> exercise_dates() const;
  // Exercise value per node at exercise k (times today's discount factor to it).
  void exercise_value(std::size_t k, const std::vector<std::shared_ptr<const market_data>>& market,
                      vector<double>& out) const;

 private:
  std::size_t exercise_index(const datetime& date) const;

  bool payer_;
  double notional_;
  double strike_;
  std::vector<std::shared_ptr<const interest_rate_swap>> underlyings_;
  bool forward_;
};

}  // namespace tarvex
