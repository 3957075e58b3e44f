#include "Market/survival_curve.h"

#include <cmath>

namespace tarvex {

void survival_curve::log_survival_probability(vector<double>& out, const datetime& t, const datetime& T) const {
  out.fill(log_survival_probability(t, T));
}

void survival_curve::survival_probability(vector<double>& out, const datetime& t) const {
  out.fill(survival_probability(valuation_date(), t));
}

double survival_curve::survival_probability(const datetime& t, const datetime& T) const {
  return std::exp(log_survival_probability(t, T));
}

}  // namespace tarvex
