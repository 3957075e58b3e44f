#pragma once

namespace tarvex::bachelier {

// Normal-model (Bachelier) option on a forward F with strike K, expiry T in years and
// normal volatility sigma: discount * (theta (F - K) N(theta d) + s n(d)), s = sigma sqrt(T),
// d = (F - K) / s; sign theta > 0 a call (payer), < 0 a put (receiver). The time value
// is evaluated without cancellation, so deep out-of-the-money prices keep their
// relative accuracy down to underflow. Expects finite inputs, T >= 0, sigma >= 0.
double price(double forward, double strike, double expiry, double vol, double discount, double sign);

// d price / d sigma = discount * sqrt(T) n(d), the same for calls and puts.
double vega(double forward, double strike, double expiry, double vol, double discount = 1.0);

// The normal volatility that reproduces an undiscounted `price`. Accurate to a few
// ulps relative in sigma over the whole range of moneyness and expiry: Jaeckel's
// rational initial guess ("Implied normal volatility", 2017), then Halley steps on the
// logarithm of the reduced time value, which converge from that guess in two steps.
//
// A price at intrinsic (or below it by no more than rounding, 8 ulps of the
// intrinsic value) gives 0. A price further below intrinsic is refused with
// "price is below the intrinsic value"; the Bachelier price has no upper bound, so
// any finite price above intrinsic has a volatility. Expects finite inputs, T > 0 and
// a non-zero sign.
double implied_volatility(double price, double forward, double strike, double expiry, double sign);

}  // namespace tarvex::bachelier
