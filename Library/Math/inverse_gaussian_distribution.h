#pragma once

namespace tarvex {

// The inverse Gaussian (Wald) law IG(mu, lambda), mean mu and variance mu^3 / lambda:
// the first passage time of a Brownian motion with drift, and closed under exponential
// tilting, E[e^{-s Y} 1{Y <= y}] = E[e^{-s Y}] cdf(y; mu_s, lambda) with
// mu_s = mu / sqrt(1 + 2 s mu^2 / lambda), which the Cheyette smile pricing relies on.
struct inverse_gaussian_distribution {
  // P(Y <= x) for Y ~ IG(mu, lambda); mu, lambda > 0; 0 for x <= 0, 1 for x = +inf.
  //   cdf = N(sqrt(lambda/x) (x/mu - 1)) + e^{2 lambda/mu} N(-sqrt(lambda/x) (x/mu + 1)).
  // The second term overflows as written when lambda/mu is large (a nearly Gaussian
  // law); it equals n(w) R(w) e^{2 lambda/mu} with the Mills ratio R, and
  // n(w) e^{2 lambda/mu} = e^{-lambda (x - mu)^2 / (2 mu^2 x)} / sqrt(2 pi) stays bounded.
  static double cdf(double x, double mu, double lambda);
  // E[e^{-s Y}] = exp((lambda/mu) (1 - sqrt(1 + 2 s mu^2 / lambda))), s >= 0.
  static double laplace(double s, double mu, double lambda);
  // The tilted mean mu_s above.
  static double tilted_mean(double s, double mu, double lambda);
};

}  // namespace tarvex
