#include "Analytics/diffusion/ir/discount_curve_diffusion.h"

#include "Analytics/diffusion/common/simulated_dates.h"
#include "Analytics/diffusion/ir/diffusion_ir.h"
#include "Core/check.h"

namespace tarvex {
namespace {
// Published locations of the per-path curve's unavailable scalar queries.
constexpr const char* source = "Library/Analytics/diffusion/ir/discount_curve_diffusion";
constexpr const char* name = "simulated discount curve";
}  // namespace

discount_curve_diffusion::discount_curve_diffusion(const std::shared_ptr<const diffusion>& self,
                                                   matrix<double>&& states, matrix<double>&& states_previous)
    : diffusion_(self), states_(std::move(states)), states_previous_(std::move(states_previous)),
      ir_(dynamic_cast<const diffusion_ir*>(self.get())) {
  TARVEX_CHECK(ir_ != nullptr, "a simulated discount curve needs an interest-rate diffusion");
}

double discount_curve_diffusion::df(const datetime&, const datetime&) const {
  throw NotImplementedError({"df", source, 52}, "df");
}

double discount_curve_diffusion::log_df(const datetime&, const datetime&) const {
  throw NotImplementedError({"log_df", source, 46}, "log_df");
}

void discount_curve_diffusion::log_df(vector<double>& out, const datetime& t, const datetime& T) const {
  check_simulated_period(*this, name, t, T);
  ir_->log_df(out, states_, t, T);
}

void discount_curve_diffusion::discounting(vector<double>& out, const datetime& t) const {
  check_simulated_date(*this, name, t);
  ir_->discounting(out, states_, t);
}

vector<double> discount_curve_diffusion::log_normalized_discounting() const {
  return ir_->log_normalized_discounting(states_);
}

}  // namespace tarvex
