#pragma once

namespace tarvex::black_scholes {

// Black's lognormal option on a forward F > 0 with strike K >= 0, expiry T >= 0 in
// years and volatility sigma >= 0: discount * theta (F N(theta d1) - K N(theta d2)),
// d1,2 = (ln(F/K) +- sigma^2 T / 2) / (sigma sqrt(T)); sign theta > 0 a call, < 0 a put.
// At zero total variance the price is the discounted intrinsic value.
double price(double forward, double strike, double expiry, double vol, double discount, double sign);

// d price / d sigma = discount * F sqrt(T) n(d1), the same for calls and puts.
double vega(double forward, double strike, double expiry, double vol, double discount = 1.0);

}  // namespace tarvex::black_scholes
