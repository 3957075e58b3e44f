#include "Market/ir_volatility_surface.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Core/check.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

void check_axis(const std::vector<double>& axis, const char* name) {
  TARVEX_CHECK_TEXT(!axis.empty(), "volatility surface has no ", name);
  for (std::size_t i = 0; i < axis.size(); ++i) {
    TARVEX_CHECK_TEXT(std::isfinite(axis[i]), "volatility surface ", name, " ", i, " is ", axis[i]);
    TARVEX_CHECK_TEXT(i == 0 || axis[i - 1] < axis[i], "volatility surface ", name, " are not ascending: ",
                      axis[i - 1], " then ", axis[i]);
  }
}

// Lower node and weight of the upper node for linear interpolation, flat outside.
std::pair<std::size_t, double> bracket(const std::vector<double>& axis, double x) {
  if (axis.size() == 1 || !(x > axis.front())) return {0, 0.0};
  if (!(x < axis.back())) return {axis.size() - 1, 0.0};
  const std::size_t i = static_cast<std::size_t>(std::upper_bound(axis.begin(), axis.end(), x) - axis.begin()) - 1;
  return {i, (x - axis[i]) / (axis[i + 1] - axis[i])};
}

std::vector<double> expiry_times(const datetime& d, const std::vector<tenor>& expiries,
                                 const std::shared_ptr<const day_count_convention>& day_count) {
  const day_count_convention fallback;
  const day_count_convention& dc = day_count ? *day_count : fallback;
  std::vector<double> out;
  for (const tenor& e : expiries) out.push_back(dc.fraction(d, datetime_helper::add_tenor(d, e, 1)));
  return out;
}

std::vector<double> tenor_years(const std::vector<tenor>& tenors) {
  std::vector<double> out;
  for (const tenor& t : tenors) {
    TARVEX_CHECK_TEXT(t.units() == tenor::unit::months || t.units() == tenor::unit::years,
                      "swap tenor ", t.to_string(), " is not in months or years");
    out.push_back(t.units() == tenor::unit::years ? t.count() : t.count() / 12.0);
  }
  return out;
}

}  // namespace

ir_volatility_surface::ir_volatility_surface(const datetime& valuation_date, std::vector<double> expiries,
                                             std::vector<double> tenors, std::vector<double> vols,
                                             std::vector<double> strike_offsets)
    : valuation_date_(valuation_date), expiries_(std::move(expiries)), tenors_(std::move(tenors)),
      vols_(std::move(vols)), strike_offsets_(std::move(strike_offsets)) {
  check_axis(expiries_, "expiries");
  check_axis(tenors_, "tenors");
  if (!strike_offsets_.empty()) check_axis(strike_offsets_, "strike offsets");
  const std::size_t expected = expiries_.size() * tenors_.size() * std::max<std::size_t>(strike_offsets_.size(), 1);
  TARVEX_CHECK_TEXT(vols_.size() == expected, "volatility surface has ", vols_.size(), " volatilities for ",
                    expiries_.size(), " expiries, ", tenors_.size(), " tenors and ", strike_offsets_.size(),
                    " strike offsets");
  for (std::size_t i = 0; i < vols_.size(); ++i)
    TARVEX_CHECK_TEXT(std::isfinite(vols_[i]) && vols_[i] >= 0.0, "volatility ", i, " is ", vols_[i],
                      ", not finite and non-negative");
}

ir_volatility_surface::ir_volatility_surface(const datetime& valuation_date, const std::vector<tenor>& expiries,
                                             const std::vector<tenor>& tenors, std::vector<double> vols,
                                             const std::shared_ptr<const day_count_convention>& day_count,
                                             std::vector<double> strike_offsets)
    : ir_volatility_surface(valuation_date, expiry_times(valuation_date, expiries, day_count), tenor_years(tenors),
                            std::move(vols), std::move(strike_offsets)) {}

double ir_volatility_surface::node(std::size_t i, std::size_t j, double strike_offset) const {
  const std::size_t cell = i * tenors_.size() + j;
  if (strike_offsets_.empty()) return vols_[cell];
  const double* smile = vols_.data() + cell * strike_offsets_.size();
  const auto [k, w] = bracket(strike_offsets_, strike_offset);
  return w == 0.0 ? smile[k] : smile[k] + w * (smile[k + 1] - smile[k]);
}

double ir_volatility_surface::volatility(double expiry, double tenor, double strike_offset) const {
  const auto [i, u] = bracket(expiries_, expiry);
  // Named copies: lambdas may capture structured bindings only from C++20 compilers
  // that implement it (not clang 14).
  const auto [j_bracket, v_bracket] = bracket(tenors_, tenor);
  const std::size_t j = j_bracket;
  const double v = v_bracket;
  // Skipping zero-weight neighbours keeps exact node values exact and never reads past
  // a one-node axis.
  auto along_tenor = [&](std::size_t row) {
    const double lo = node(row, j, strike_offset);
    return v == 0.0 ? lo : lo + v * (node(row, j + 1, strike_offset) - lo);
  };
  const double lo = along_tenor(i);
  return u == 0.0 ? lo : lo + u * (along_tenor(i + 1) - lo);
}

}  // namespace tarvex
