#include "Math/root_finding_algorithms.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/check.h"

namespace tarvex {

bool root_finding_algorithms::brent(const std::function<double(double)>& f, double low, double high, double& root,
                                    double x_tolerance, double f_tolerance, double relative_tolerance,
                                    int max_iterations) {
  TARVEX_CHECK(max_iterations >= 0 && x_tolerance >= 0.0 && f_tolerance >= 0.0 && relative_tolerance >= 0.0,
               "max_iterations ", max_iterations, " x_tolerance ", x_tolerance, " f_tolerance ", f_tolerance,
               " relative_tolerance ", relative_tolerance);
  double a = low, fa = f(a);
  if (std::fabs(fa) <= f_tolerance) {
    root = a;
    return true;
  }
  double b = high, fb = f(b);
  if (std::fabs(fb) <= f_tolerance) {
    root = b;
    return true;
  }
  // Written so that a NaN at either end also counts as no bracket.
  if (!((fa < 0.0 && fb > 0.0) || (fa > 0.0 && fb < 0.0))) return false;

  double last_call = b;
  const auto done = [&](bool success) {
    if (last_call != b) f(b);
    root = b;
    return success;
  };
  // b is the best point, c the other end of the bracket, a the previous b; d the step
  // just taken and e the one before it (the bisection guard compares against both).
  double c = a, fc = fa, d = b - a, e = d;
  // Below twice the relative spacing of doubles a step could leave b where it is.
  const double relative = std::max(relative_tolerance, std::numeric_limits<double>::epsilon());
  for (int iteration = 0;; ++iteration) {
    if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
      c = a;
      fc = fa;
      d = e = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tol = std::max(2.0 * relative * std::fabs(b) + 0.5 * x_tolerance, std::numeric_limits<double>::min());
    const double m = 0.5 * (c - b);
    if (std::fabs(m) <= tol || std::fabs(fb) <= f_tolerance) return done(true);
    if (iteration == max_iterations) return done(false);

    if (std::fabs(e) >= tol && std::fabs(fa) > std::fabs(fb)) {
      // Interpolate: secant through a and b when only two points are distinct,
      // inverse quadratic through a, b and c otherwise.
      const double s = fb / fa;
      double p, q;
      if (a == c) {
        p = 2.0 * m * s;
        q = 1.0 - s;
      } else {
        const double qa = fa / fc, r = fb / fc;
        p = s * (2.0 * m * qa * (qa - r) - (b - a) * (r - 1.0));
        q = (qa - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0.0)
        q = -q;
      else
        p = -p;
      // Accept the interpolation only inside the bracket and only while the steps keep
      // halving; otherwise bisect.
      if (2.0 * p < std::min(3.0 * m * q - std::fabs(tol * q), std::fabs(e * q))) {
        e = d;
        d = p / q;
      } else {
        d = m;
        e = m;
      }
    } else {
      d = m;
      e = m;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol ? d : (m > 0.0 ? tol : -tol);
    fb = f(b);
    last_call = b;
  }
}

}  // namespace tarvex
