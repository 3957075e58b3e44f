#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "Analytics/diffusion/common/diffusion.h"

namespace tarvex {

class discount_curve;

// An interest-rate diffusion: discount factors between simulation dates and the
// numeraire, per path, from the states and today's curve.
class diffusion_ir : public diffusion {
 public:
  // ln P(t, T) per path at the states of date t: the model's conditional part plus
  // ln(P(0, T) / P(0, t)) of today's curve; exactly 0 when t == T.
  virtual void log_df(vector<double>& out, const matrix<double>& states, const datetime& t,
                      const datetime& T) const = 0;
  // The numeraire discount factor to t per path: P(0, t) exp(-x), x the log normalised
  // discount factor state.
  virtual void discounting(vector<double>& out, const matrix<double>& states, const datetime& t) const;
  // The state row holding the log normalised discount factor.
  virtual std::uint64_t log_normalized_discounting_index() const = 0;

  // A view (nothing copied) of the log normalised discount factor row of `states`.
  vector<double> log_normalized_discounting(const matrix<double>& states) const;

  std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const override;

  const std::shared_ptr<const discount_curve>& curve() const { return discount_curve_; }

 protected:
  diffusion_ir(const std::vector<datetime>& dates, const std::shared_ptr<const discount_curve>& curve);

  std::shared_ptr<const discount_curve> discount_curve_;
};

}  // namespace tarvex
