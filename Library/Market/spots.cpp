// equity_spot and fx_spot: the same live behaviour.
#include <cmath>

#include "Core/check.h"
#include "Market/equity_spot.h"
#include "Market/fx_spot.h"

namespace tarvex {
namespace {
void check_spot(double spot) { TARVEX_CHECK(std::isfinite(spot) && spot > 0.0, "spot ", spot, " is not positive"); }
[[noreturn]] void not_implemented(const char* name, int line) {
  throw NotImplementedError({name, details::source_path(__FILE__), line}, name);
}
}  // namespace

equity_spot::equity_spot(const datetime& valuation_date, double spot) : market_data(valuation_date), spot_(spot) {
  check_spot(spot);
}
equity_spot::equity_spot(double spot) : spot_(spot) {}
vector<double> equity_spot::spots() const { not_implemented("spots", __LINE__); }
void equity_spot::forward(vector<double>&, const datetime&, const datetime&) const {
  not_implemented("forward", __LINE__);
}

fx_spot::fx_spot(const datetime& valuation_date, double spot) : market_data(valuation_date), spot_(spot) {
  check_spot(spot);
}
fx_spot::fx_spot(double spot) : spot_(spot) {}
vector<double> fx_spot::spots() const { not_implemented("spots", __LINE__); }
void fx_spot::forward(vector<double>&, const datetime&, const datetime&) const { not_implemented("forward", __LINE__); }

}  // namespace tarvex
