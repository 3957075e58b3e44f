#include "Market/discount_curve.h"

#include <cmath>

#include "Core/check.h"

namespace tarvex {

double discount_curve::df(const datetime& t, const datetime& T) const { return std::exp(log_df(t, T)); }

void discount_curve::log_df(vector<double>& out, const datetime& t, const datetime& T) const {
  out.fill(log_df(t, T));
}

void discount_curve::discounting(vector<double>& out, const datetime& t) const {
  out.fill(df(valuation_date(), t));
}

vector<double> discount_curve::log_normalized_discounting() const {
  throw NotImplementedError({"log_normalized_discounting", details::source_path(__FILE__), __LINE__},
                            "log_normalized_discounting");
}

}  // namespace tarvex
