#include "Analytics/diffusion/credit/survival_curve_diffusion.h"

#include "Analytics/diffusion/common/simulated_dates.h"
#include "Analytics/diffusion/credit/diffusion_credit.h"
#include "Core/check.h"

namespace tarvex {
namespace {
constexpr const char* source = "Library/Analytics/diffusion/credit/survival_curve_diffusion";
constexpr const char* name = "simulated survival curve";
}  // namespace

std::shared_ptr<const market_data> diffusion_credit::create_market_data(
    const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
    const std::vector<std::shared_ptr<const market_data>>&) const {
  return std::make_shared<const survival_curve_diffusion>(self, std::move(states), std::move(states_previous));
}

survival_curve_diffusion::survival_curve_diffusion(const std::shared_ptr<const diffusion>& self,
                                                   matrix<double>&& states, matrix<double>&& states_previous)
    : diffusion_(self), states_(std::move(states)), states_previous_(std::move(states_previous)),
      credit_(dynamic_cast<const diffusion_credit*>(self.get())) {
  TARVEX_CHECK(credit_ != nullptr, "a simulated survival curve needs a credit diffusion");
}

void survival_curve_diffusion::log_survival_probability(vector<double>& out, const datetime& t,
                                                        const datetime& T) const {
  check_simulated_period(*this, name, t, T);
  credit_->log_conditional_survival_probability(out, states_, t, T);
}

double survival_curve_diffusion::log_survival_probability(const datetime&, const datetime&) const {
  throw NotImplementedError({"log_survival_probability", source, 42}, "log_survival_probability");
}

void survival_curve_diffusion::survival_probability(vector<double>& out, const datetime& t) const {
  check_simulated_date(*this, name, t);
  credit_->survival_probability(out, states_, t);
}

double survival_curve_diffusion::survival_probability(const datetime&, const datetime&) const {
  throw NotImplementedError({"survival_probability", source, 49}, "survival_probability");
}

}  // namespace tarvex
