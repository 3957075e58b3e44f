#include "Math/black_scholes.h"

#include <cmath>

#include "Core/check.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex::black_scholes {
namespace {

constexpr double inv_sqrt_2pi = 0.39894228040143267794;

void check_inputs(double forward, double strike, double expiry, double vol, double discount) {
  TARVEX_CHECK(std::isfinite(forward) && forward > 0.0, "forward ", forward);
  TARVEX_CHECK(std::isfinite(strike) && strike >= 0.0, "strike ", strike);
  TARVEX_CHECK(std::isfinite(expiry) && expiry >= 0.0, "expiry ", expiry);
  TARVEX_CHECK(std::isfinite(vol) && vol >= 0.0, "volatility ", vol);
  TARVEX_CHECK(std::isfinite(discount), "discount ", discount);
}

}  // namespace

double price(double forward, double strike, double expiry, double vol, double discount, double sign) {
  check_inputs(forward, strike, expiry, vol, discount);
  TARVEX_CHECK(sign != 0.0, "option sign must be +1 (call) or -1 (put)");
  const double theta = sign > 0.0 ? 1.0 : -1.0;
  const double s = vol * std::sqrt(expiry);
  if (s == 0.0 || strike == 0.0) return discount * std::fmax(theta * (forward - strike), 0.0);
  const double d1 = std::log(forward / strike) / s + 0.5 * s, d2 = d1 - s;
  return discount * theta * (forward * normalcdf(theta * d1) - strike * normalcdf(theta * d2));
}

double vega(double forward, double strike, double expiry, double vol, double discount) {
  check_inputs(forward, strike, expiry, vol, discount);
  const double sqrt_t = std::sqrt(expiry), s = vol * sqrt_t;
  if (strike == 0.0) return 0.0;
  if (s == 0.0) return forward == strike ? discount * forward * sqrt_t * inv_sqrt_2pi : 0.0;
  const double d1 = std::log(forward / strike) / s + 0.5 * s;
  return discount * forward * sqrt_t * inv_sqrt_2pi * std::exp(-0.5 * d1 * d1);
}

}  // namespace tarvex::black_scholes
