// One instruction set's model loops: included by markovian_hjm_kernels.cpp inside a
// target region and a namespace of its own. No include guard.
//
// Paths go in blocks that stay in L1 while every factor of the block is stepped: y is
// read and written once per step instead of once per factor, and the copy into the
// previous states rides along. Operations are those of the plain per-factor loops, in
// the same order and never fused (-ffp-contract=off), so every level gives the same
// states bit for bit.

constexpr std::size_t block = 256;

void simulation_step(std::size_t factors, std::size_t paths, const step_coefficients& k, const double* draws,
                     double* previous, double* current) {
  for (std::size_t p0 = 0; p0 < paths; p0 += block) {
    const std::size_t m = std::min(block, paths - p0);
    double* __restrict y = current + factors * paths + p0;
    double* __restrict y_prev = previous + factors * paths + p0;
    const double half_q = k.half_q;
    for (std::size_t p = 0; p < m; ++p) {
      y_prev[p] = y[p];
      y[p] += half_q;
    }
    for (std::size_t f = 0; f < factors; ++f) {
      const double d = k.drift ? k.drift[f] : 0.0;
      const double s = k.sv[f], shift = k.c[f] - s * d, di = k.delta[f], uf = k.u[f], ud = -uf * d;
      const double* __restrict w = draws + f * paths + p0;
      double* __restrict x = current + f * paths + p0;
      double* __restrict x_prev = previous + f * paths + p0;
      for (std::size_t p = 0; p < m; ++p) {
        const double xo = x[p];
        x_prev[p] = xo;
        x[p] = xo - (s * w[p] + shift);
        y[p] += di * xo + uf * w[p] + ud;
      }
    }
  }
}

void conditional_price(std::size_t factors, std::size_t paths, const double* delta, double half_q,
                       const double* states, double* out) {
  for (std::size_t p0 = 0; p0 < paths; p0 += block) {
    const std::size_t m = std::min(block, paths - p0);
    double* __restrict o = out + p0;
    for (std::size_t p = 0; p < m; ++p) o[p] = half_q;
    for (std::size_t a = 0; a < factors; ++a) {
      const double* __restrict x = states + a * paths + p0;
      const double da = delta[a];
      for (std::size_t p = 0; p < m; ++p) o[p] -= da * x[p];
    }
  }
}
