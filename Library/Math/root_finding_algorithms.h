#pragma once
#include <functional>

namespace tarvex {

// Scalar root finders.
struct root_finding_algorithms {
  // Brent's method (Brent 1973, "zero"): inverse quadratic or secant steps guarded by
  // bisection, so it never does worse than bisection on a bracket.
  //
  // Expects f(low) and f(high) of opposite signs (or one of them within f_tolerance of
  // zero); otherwise returns false and leaves `root` as it was. On success `root` is a
  // point with |f(root)| <= f_tolerance or inside a bracket narrower than
  // 2 (relative_tolerance |root| + x_tolerance / 2); the bracket shrinks to the double
  // spacing at worst, whatever the tolerances. Returns false when max_iterations
  // evaluations beyond the two end points are not enough (root: the best point).
  //
  // The last call of f is always made at the returned root (one extra call when the
  // best point was not the latest), so an f that writes its argument into a model
  // leaves the model at the root. The input value of `root` is not used.
  static bool brent(const std::function<double(double)>& f, double low, double high, double& root,
                    double x_tolerance, double f_tolerance, double relative_tolerance, int max_iterations);
};

}  // namespace tarvex
