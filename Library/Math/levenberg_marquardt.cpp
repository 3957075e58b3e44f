#include "Math/levenberg_marquardt.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "Core/check.h"
#include "Math/cholesky_decomposition.h"
#include "Math/matrix_multiplication.h"

namespace tarvex {
namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();
// Beyond this the damped step is zero to working precision whatever the scaling.
constexpr double damping_limit = 1e300;

double squared_norm(const vector<double>& v) {
  double s = 0.0;
  for (double e : v) s += e * e;
  return s;
}

bool all_finite(const double* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isfinite(p[i])) return false;
  return true;
}

// One minimisation. Every buffer is sized once here, so the iterations allocate
// nothing beyond what the caller's functions do.
class lm_run {
 public:
  lm_run(const lm_parameters& p, const levenberg_marquardt::residual_function& residuals,
         const levenberg_marquardt::jacobian_function& jacobian, optimization_algorithm_output& out)
      : p_(p), residuals_(residuals), jacobian_(jacobian), out_(out), m_(p.number_of_residuals),
        n_(p.number_of_unknowns), r_(m_), r_trial_(m_), r_minus_(p.central_differences && !jacobian ? m_ : 0),
        x_trial_(n_), g_(n_), h_(n_), y_(n_), largest_diagonal_(n_), j_(m_, n_), a_(n_, n_), s_(n_, n_) {}

  void run(const vector<double>& x0) {
    x_ = x0;
    evaluate(x_, r_);
    last_call_at_x_ = true;
    cost_ = 0.5 * squared_norm(r_);
    out_.initial_cost = cost_;
    if (!std::isfinite(cost_)) return finish(optimization_termination::non_finite_residuals);
    if (cost_ == 0.0 || n_ == 0) return finish(optimization_termination::gradient_tolerance);
    if (p_.max_iterations == 0) return finish(optimization_termination::iteration_limit);
    if (!update_jacobian()) return finish(optimization_termination::non_finite_jacobian);
    if (gradient_converged()) return finish(optimization_termination::gradient_tolerance);

    const double growth = p_.damping_growth;
    double mu = p_.initial_damping;
    double nu = growth;
    // Nielsen: nu grows with each consecutive rejection, so mu escalates fast.
    const auto reject = [&] {
      mu *= nu;
      nu *= growth;
      return mu <= damping_limit;
    };
    while (out_.iterations < static_cast<std::size_t>(p_.max_iterations)) {
      ++out_.iterations;
      if (!solve_damped(mu)) {
        if (!reject()) return finish(optimization_termination::damping_overflow);
        continue;
      }
      // A negligible step still gets its one evaluation: near a zero-residual solution
      // it is the step that takes x from |h| to |h|^2 accuracy.
      const bool last_step =
          std::sqrt(squared_norm(h_)) <= p_.tolerance * (std::sqrt(squared_norm(x_)) + p_.tolerance);
      for (std::size_t j = 0; j < n_; ++j) x_trial_[j] = x_[j] + h_[j];
      evaluate(x_trial_, r_trial_);
      last_call_at_x_ = false;
      const double trial_cost = 0.5 * squared_norm(r_trial_);
      // L(0) - L(h) = 1/2 (mu h^T D h - h^T g) once (A + mu D) h = -g: no product with A.
      double hdh = 0.0, hg = 0.0;
      for (std::size_t j = 0; j < n_; ++j) {
        hdh += scale(j) * h_[j] * h_[j];
        hg += h_[j] * g_[j];
      }
      const double predicted = 0.5 * (mu * hdh - hg);
      const double actual = cost_ - trial_cost;
      const double rho = std::isfinite(trial_cost) && predicted > 0.0 ? actual / predicted
                                                                       : -std::numeric_limits<double>::infinity();
      if (!(rho > p_.acceptance_ratio)) {
        if (last_step) return finish(optimization_termination::step_tolerance);
        if (!reject()) return finish(optimization_termination::damping_overflow);
        continue;
      }

      const bool negligible = actual <= p_.tolerance * cost_ && predicted <= p_.tolerance * cost_;
      x_.swap(x_trial_);
      r_.swap(r_trial_);
      cost_ = trial_cost;
      last_call_at_x_ = true;
      if (rho > p_.good_step_ratio) {
        const double t = 2.0 * rho - 1.0;
        mu *= std::max(p_.minimum_damping_decrease, 1.0 - t * t * t);
      } else if (rho < 1.0 - p_.good_step_ratio) {
        mu *= growth;
      }
      // A damping that underflows would leave a singular system that takes dozens of
      // rejections to repair; epsilon relative to the scaling is Gauss-Newton already.
      mu = std::max(mu, epsilon);
      nu = growth;

      if (last_step) return finish(optimization_termination::step_tolerance);
      if (negligible) return finish(optimization_termination::relative_reduction);
      if (cost_ == 0.0) return finish(optimization_termination::gradient_tolerance);
      // No Jacobian that no step would use: with finite differences it costs N residuals.
      if (out_.iterations == static_cast<std::size_t>(p_.max_iterations)) break;
      if (!update_jacobian()) return finish(optimization_termination::non_finite_jacobian);
      if (gradient_converged()) return finish(optimization_termination::gradient_tolerance);
    }
    finish(optimization_termination::iteration_limit);
  }

 private:
  void evaluate(const vector<double>& x, vector<double>& r) {
    residuals_(x, r);
    ++out_.residual_evaluations;
    TARVEX_CHECK(r.size() == m_, "residual function wrote ", r.size(), " residuals, expected ", m_);
  }

  // Jacobian, gradient and normal matrix at x_; false when the Jacobian is not finite.
  bool update_jacobian() {
    if (jacobian_) {
      jacobian_(x_, j_);
      TARVEX_CHECK(j_.rows() == m_ && j_.columns() == n_, "jacobian function wrote ", j_.rows(), " x ",
                   j_.columns(), ", expected ", m_, " x ", n_);
    } else {
      finite_difference_jacobian();
    }
    ++out_.jacobian_evaluations;
    if (!all_finite(j_.data(), j_.size())) return false;
    matrix_multiplication(true, false, n_, n_, m_, j_.data(), n_, j_.data(), n_, a_.data(), n_);
    for (std::size_t k = 0; k < n_; ++k) g_[k] = 0.0;
    for (std::size_t i = 0; i < m_; ++i) {
      const double* row = j_.row_data(i);
      for (std::size_t k = 0; k < n_; ++k) g_[k] += row[k] * r_[i];
    }
    // Moré: the scaling only ever grows, which keeps the damping invariant under a
    // rescaling of the unknowns without letting a column that fades out lose it.
    for (std::size_t k = 0; k < n_; ++k) largest_diagonal_[k] = std::max(largest_diagonal_[k], a_(k, k));
    return true;
  }

  void finite_difference_jacobian() {
    const double relative = p_.finite_difference_step > 0.0 ? p_.finite_difference_step
                            : p_.central_differences        ? std::cbrt(epsilon)
                                                            : std::sqrt(epsilon);
    x_trial_ = x_;
    for (std::size_t k = 0; k < n_; ++k) {
      const double xk = x_[k];
      const double step = relative * std::max(std::fabs(xk), 1.0);
      // Divide by the differences of the points actually evaluated, not by `step`.
      x_trial_[k] = xk + step;
      const double up = x_trial_[k];
      evaluate(x_trial_, r_trial_);
      if (p_.central_differences) {
        x_trial_[k] = xk - step;
        const double down = x_trial_[k];
        evaluate(x_trial_, r_minus_);
        const double inverse = 1.0 / (up - down);
        for (std::size_t i = 0; i < m_; ++i) j_(i, k) = (r_trial_[i] - r_minus_[i]) * inverse;
      } else {
        const double inverse = 1.0 / (up - xk);
        for (std::size_t i = 0; i < m_; ++i) j_(i, k) = (r_trial_[i] - r_[i]) * inverse;
      }
      x_trial_[k] = xk;
    }
    last_call_at_x_ = false;
  }

  double scale(std::size_t k) const { return largest_diagonal_[k] > 0.0 ? largest_diagonal_[k] : 1.0; }

  // max_j |g_j| / (|J_j| |r|) <= tolerance, written without the division.
  bool gradient_converged() const {
    const double r_norm = std::sqrt(2.0 * cost_);
    for (std::size_t k = 0; k < n_; ++k)
      if (std::fabs(g_[k]) > p_.tolerance * std::sqrt(a_(k, k)) * r_norm) return false;
    return true;
  }

  // h = -(A + mu D)^{-1} g; false when the damped matrix is not numerically positive
  // definite or the step is not finite.
  bool solve_damped(double mu) {
    s_ = a_;
    for (std::size_t k = 0; k < n_; ++k) s_(k, k) += mu * scale(k);
    if (!cholesky_decomposition(s_.data(), n_, 'L')) return false;
    for (std::size_t i = 0; i < n_; ++i) {
      double v = -g_[i];
      for (std::size_t k = 0; k < i; ++k) v -= s_(i, k) * y_[k];
      y_[i] = v / s_(i, i);
    }
    for (std::size_t i = n_; i-- > 0;) {
      double v = y_[i];
      for (std::size_t k = i + 1; k < n_; ++k) v -= s_(k, i) * h_[k];
      h_[i] = v / s_(i, i);
    }
    return all_finite(h_.data(), n_);
  }

  void finish(optimization_termination reason) {
    if (!last_call_at_x_) evaluate(x_, r_);
    out_.solution = x_;
    out_.residuals = r_;
    out_.cost = cost_;
    out_.termination = reason;
  }

  const lm_parameters& p_;
  const levenberg_marquardt::residual_function& residuals_;
  const levenberg_marquardt::jacobian_function& jacobian_;
  optimization_algorithm_output& out_;
  const std::size_t m_, n_;
  vector<double> x_, r_, r_trial_, r_minus_, x_trial_, g_, h_, y_, largest_diagonal_;
  matrix<double> j_, a_, s_;
  double cost_ = 0.0;
  bool last_call_at_x_ = false;
};

}  // namespace

levenberg_marquardt::levenberg_marquardt(const lm_parameters& parameters, residual_function residuals)
    : levenberg_marquardt(parameters, std::move(residuals), jacobian_function()) {}

levenberg_marquardt::levenberg_marquardt(const lm_parameters& parameters, residual_function residuals,
                                         jacobian_function jacobian)
    : parameters_(parameters), residuals_(std::move(residuals)), jacobian_(std::move(jacobian)) {
  const lm_parameters& p = parameters_;
  TARVEX_CHECK_TEXT(static_cast<bool>(residuals_), "levenberg_marquardt: the residual function is empty");
  TARVEX_CHECK(p.max_iterations >= 0, "max_iterations ", p.max_iterations);
  TARVEX_CHECK(p.acceptance_ratio >= 0.0 && p.acceptance_ratio < p.good_step_ratio && p.good_step_ratio < 1.0,
               "acceptance_ratio ", p.acceptance_ratio, " good_step_ratio ", p.good_step_ratio);
  TARVEX_CHECK(p.tolerance >= 0.0, "tolerance ", p.tolerance);
  TARVEX_CHECK(p.initial_damping > 0.0 && p.initial_damping <= damping_limit, "initial_damping ", p.initial_damping);
  TARVEX_CHECK(p.minimum_damping_decrease > 0.0 && p.minimum_damping_decrease <= 1.0, "minimum_damping_decrease ",
               p.minimum_damping_decrease);
  TARVEX_CHECK(p.finite_difference_step >= 0.0, "finite_difference_step ", p.finite_difference_step);
  TARVEX_CHECK(p.damping_growth >= 2, "damping_growth ", p.damping_growth);
}

optimization_algorithm_output levenberg_marquardt::operator()(const vector<double>& x0) const {
  TARVEX_CHECK(x0.size() == parameters_.number_of_unknowns, "starting point has ", x0.size(), " entries for ",
               parameters_.number_of_unknowns, " unknowns");
  optimization_algorithm_output out(parameters_.number_of_unknowns);
  lm_run(parameters_, residuals_, jacobian_, out).run(x0);
  return out;
}

}  // namespace tarvex
