#include "Math/gaussian_quadrature.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "Core/check.h"

namespace tarvex {
namespace {

constexpr double pi_to_minus_quarter = 0.7511255444649425;  // pi^(-1/4)

// psi_n(z) and psi_{n-1}(z) of the orthonormal Hermite functions (weight exp(-z^2)).
void hermite_pair(std::size_t n, double z, double& pn, double& pn1) {
  double p1 = pi_to_minus_quarter, p2 = 0.0;
  for (std::size_t j = 1; j <= n; ++j) {
    const double p3 = p2;
    p2 = p1;
    const double jd = static_cast<double>(j);
    p1 = z * std::sqrt(2.0 / jd) * p2 - std::sqrt((jd - 1.0) / jd) * p3;
  }
  pn = p1;
  pn1 = p2;
}

}  // namespace

void gaussian_quadrature::gauss_hermite_coefficients(std::size_t n, vector<double>& roots, vector<double>& weights,
                                                     bool physicists, double tolerance, int max_iterations) {
  TARVEX_CHECK(n >= 1 && n <= 400, "Gauss-Hermite order ", n, " is outside 1..400");
  if (roots.size() != n) roots = vector<double>(n);
  if (weights.size() != n) weights = vector<double>(n);
  const double nd = static_cast<double>(n);
  const std::size_t half = (n + 1) / 2;
  double z = 0.0;
  // Largest root first; the guesses are those of Numerical Recipes' gauher, which the
  // Newton steps then polish (they converge quadratically from every guess for n <= 400).
  for (std::size_t i = 0; i < half; ++i) {
    if (i == 0)
      z = std::sqrt(2.0 * nd + 1.0) - 1.85575 * std::pow(2.0 * nd + 1.0, -0.16667);
    else if (i == 1)
      z -= 1.14 * std::pow(nd, 0.426) / z;
    else if (i == 2)
      z = 1.86 * z - 0.86 * roots[n - 1];
    else if (i == 3)
      z = 1.91 * z - 0.91 * roots[n - 2];
    else
      z = 2.0 * z - roots[n - i + 1];
    double pn = 0.0, pn1 = 0.0, derivative = 1.0;
    for (int it = 0; it < max_iterations; ++it) {
      hermite_pair(n, z, pn, pn1);
      derivative = std::sqrt(2.0 * nd) * pn1;
      const double step = pn / derivative;
      z -= step;
      if (std::fabs(step) <= tolerance * std::fabs(z) || std::fabs(step) <= tolerance) break;
    }
    hermite_pair(n, z, pn, pn1);
    derivative = std::sqrt(2.0 * nd) * pn1;
    // The middle root of an odd rule is 0 exactly.
    if (n % 2 == 1 && i == half - 1) z = 0.0;
    roots[n - 1 - i] = z;
    roots[i] = -z;
    const double w = 2.0 / (derivative * derivative);
    weights[n - 1 - i] = w;
    weights[i] = w;
  }
  if (!physicists) {
    for (std::size_t i = 0; i < n; ++i) {
      roots[i] *= 1.4142135623730951;
      weights[i] /= 1.772453850905516;
    }
  }
}

namespace {

using real = long double;

// P_0..P_n at x, and their derivatives when dp is given (P'_{k+1} = P'_{k-1} + (2k+1) P_k).
void legendre(std::size_t n, real x, std::vector<real>& p, std::vector<real>* dp = nullptr) {
  p.assign(n + 1, 0.0L);
  p[0] = 1.0L;
  if (n > 0) p[1] = x;
  for (std::size_t k = 1; k < n; ++k) p[k + 1] = ((2 * k + 1) * x * p[k] - k * p[k - 1]) / (k + 1);
  if (dp) {
    dp->assign(n + 1, 0.0L);
    if (n > 0) (*dp)[1] = 1.0L;
    for (std::size_t k = 1; k < n; ++k) (*dp)[k + 1] = (*dp)[k - 1] + (2 * k + 1) * p[k];
  }
}

// Gauss-Legendre nodes (ascending) and weights in long double: Newton from the
// classical cosine guesses, which converge for every m.
void gauss_legendre_long(std::size_t m, std::vector<real>& x, std::vector<real>& w) {
  x.assign(m, 0.0L);
  w.assign(m, 0.0L);
  std::vector<real> p, dp;
  const real pi = 3.141592653589793238462643383279502884L;
  for (std::size_t i = 0; i < m; ++i) {
    real z = std::cos(pi * (i + 0.75L) / (m + 0.5L));
    for (int it = 0; it < 100; ++it) {
      legendre(m, z, p, &dp);
      const real step = p[m] / dp[m];
      z -= step;
      if (std::fabs(step) < 1e-19L) break;
    }
    legendre(m, z, p, &dp);
    x[m - 1 - i] = z;
    w[m - 1 - i] = 2.0L / ((1.0L - z * z) * dp[m] * dp[m]);
  }
}

// Solves a x = b in place (dense, partial pivoting).
void solve(std::vector<real>& a, std::vector<real>& b, std::size_t n) {
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c])) pivot = r;
    TARVEX_CHECK_TEXT(a[pivot * n + c] != 0.0L, "gauss_kronrod: singular system");
    if (pivot != c) {
      for (std::size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
      std::swap(b[c], b[pivot]);
    }
    for (std::size_t r = c + 1; r < n; ++r) {
      const real f = a[r * n + c] / a[c * n + c];
      for (std::size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
      b[r] -= f * b[c];
    }
  }
  for (std::size_t c = n; c-- > 0;) {
    real s = b[c];
    for (std::size_t k = c + 1; k < n; ++k) s -= a[c * n + k] * b[k];
    b[c] = s / a[c * n + c];
  }
}

}  // namespace

void gaussian_quadrature::gauss_legendre(std::size_t m, vector<double>& nodes, vector<double>& weights) {
  std::vector<real> x, w;
  gauss_legendre_long(m, x, w);
  if (nodes.size() != m) nodes = vector<double>(m);
  if (weights.size() != m) weights = vector<double>(m);
  for (std::size_t i = 0; i < m; ++i) {
    nodes[i] = static_cast<double>(x[i]);
    weights[i] = static_cast<double>(w[i]);
  }
}

void gaussian_quadrature::gauss_kronrod(std::size_t m, vector<double>& nodes, vector<double>& weights,
                                        vector<double>& gauss_weights, double tolerance, int max_iterations) {
  TARVEX_CHECK(m >= 1, "gauss_kronrod needs at least one Gauss node, got ", m);
  TARVEX_CHECK(nodes.size() >= m + 1 && weights.size() >= m + 1 && gauss_weights.size() >= m + 1,
               "gauss_kronrod arrays of ", nodes.size(), ", ", weights.size(), " and ", gauss_weights.size(),
               " entries for ", m + 1, " nodes");
  // Exact products of three Legendre polynomials of degree <= m + 1: 2m + 2 Gauss points suffice.
  std::vector<real> qx, qw, p;
  gauss_legendre_long(2 * m + 2, qx, qw);
  // E_{m+1} = P_{m+1} + sum_k c_k P_k, k = m-1, m-3, ... (the parity of m + 1), with
  // int E P_m P_j = 0 for odd j <= m (the other j vanish by parity).
  std::vector<std::size_t> ks, js;
  for (std::size_t k = m + 1; k >= 2; k -= 2) ks.push_back(k - 2);
  for (std::size_t j = 1; j <= m; j += 2) js.push_back(j);
  const std::size_t u = ks.size();
  TARVEX_CHECK(js.size() == u, "gauss_kronrod: ", js.size(), " conditions for ", u, " coefficients");
  std::vector<real> a(u * u, 0.0L), rhs(u, 0.0L);
  for (std::size_t q = 0; q < qx.size(); ++q) {
    legendre(m + 1, qx[q], p);
    for (std::size_t r = 0; r < u; ++r) {
      const real base = qw[q] * p[m] * p[js[r]];
      rhs[r] -= base * p[m + 1];
      for (std::size_t c = 0; c < u; ++c) a[r * u + c] += base * p[ks[c]];
    }
  }
  solve(a, rhs, u);
  auto stieltjes = [&](real x, real& value, real& slope) {
    std::vector<real> pp, dd;
    legendre(m + 1, x, pp, &dd);
    value = pp[m + 1];
    slope = dd[m + 1];
    for (std::size_t c = 0; c < u; ++c) {
      value += rhs[c] * pp[ks[c]];
      slope += rhs[c] * dd[ks[c]];
    }
  };

  std::vector<real> gx, gw;
  gauss_legendre_long(m, gx, gw);
  // Non-negative nodes, largest first: Kronrod roots bracketed by the Gauss nodes.
  std::vector<real> all, all_gauss_weight;
  std::vector<real> brackets{-1.0L};
  brackets.insert(brackets.end(), gx.begin(), gx.end());
  brackets.push_back(1.0L);
  std::vector<real> kronrod;
  for (std::size_t i = 0; i + 1 < brackets.size(); ++i) {
    real lo = brackets[i], hi = brackets[i + 1];
    const real middle = 0.5L * (lo + hi);
    if (std::fabs(middle) < 1e-12L) {  // the bracket around 0 of an odd Stieltjes polynomial
      kronrod.push_back(0.0L);
      continue;
    }
    if (middle < 0.0L) continue;  // symmetric: only the non-negative roots
    real flo, fhi, d;
    stieltjes(lo, flo, d);
    stieltjes(hi, fhi, d);
    real x = 0.5L * (lo + hi);
    for (int it = 0; it < max_iterations; ++it) {
      real f, slope;
      stieltjes(x, f, slope);
      if ((f < 0.0L) == (flo < 0.0L))
        lo = x;
      else
        hi = x;
      real next = x - f / slope;
      if (!(next > lo && next < hi)) next = 0.5L * (lo + hi);
      const real step = std::fabs(next - x);
      x = next;
      if (step < tolerance) break;
    }
    // The tolerance is met in double terms; two more Newton steps in long double keep the
    // weights (sensitive to the nodes) at full double accuracy.
    for (int it = 0; it < 2; ++it) {
      real f, slope;
      stieltjes(x, f, slope);
      if (slope != 0.0L) x -= f / slope;
    }
    kronrod.push_back(x);
  }
  // Interleave: the largest node is a Kronrod node, then Gauss, Kronrod, ...
  std::vector<real> gauss_nonneg;
  for (std::size_t i = 0; i < m; ++i)
    if (gx[i] >= -1e-30L) gauss_nonneg.push_back(std::fabs(gx[i]) < 1e-15L ? 0.0L : std::fabs(gx[i]));
  std::sort(kronrod.rbegin(), kronrod.rend());
  std::vector<real> gw_nonneg;
  for (std::size_t i = 0; i < m; ++i)
    if (gx[i] >= -1e-30L) gw_nonneg.push_back(gw[i]);
  std::reverse(gauss_nonneg.begin(), gauss_nonneg.end());
  std::reverse(gw_nonneg.begin(), gw_nonneg.end());
  TARVEX_CHECK(kronrod.size() + gauss_nonneg.size() == m + 1, "gauss_kronrod found ", kronrod.size(),
               " Kronrod and ", gauss_nonneg.size(), " Gauss nodes for ", m + 1);
  for (std::size_t k = 0, ik = 0, ig = 0; k <= m; ++k) {
    if (k % 2 == 0) {
      all.push_back(kronrod[ik++]);
      all_gauss_weight.push_back(0.0L);
    } else {
      all.push_back(gauss_nonneg[ig]);
      all_gauss_weight.push_back(gw_nonneg[ig++]);
    }
  }
  // Weights: exact on P_0, P_2, ..., P_2m over the symmetric rule.
  const std::size_t n = m + 1;
  std::vector<real> v(n * n), w(n, 0.0L);
  w[0] = 2.0L;
  for (std::size_t c = 0; c < n; ++c) {
    legendre(2 * m, all[c], p);
    const real mult = all[c] == 0.0L ? 1.0L : 2.0L;
    for (std::size_t r = 0; r < n; ++r) v[r * n + c] = mult * p[2 * r];
  }
  solve(v, w, n);
  for (std::size_t k = 0; k < n; ++k) {
    nodes[k] = static_cast<double>(all[k]);
    weights[k] = static_cast<double>(w[k]);
    gauss_weights[k] = static_cast<double>(all_gauss_weight[k]);
  }
}

}  // namespace tarvex
