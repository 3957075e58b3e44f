#include "PDE/craig_sneyd_scheme.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"

namespace tarvex {
namespace {

// Calls f(p, j) for every node p of the solution, j its index along a dimension of
// `size` nodes and `stride`: lines of that dimension are walked together, `stride` of
// them side by side, so the inner loop runs over unit-stride memory.
template <class F>
void each_node(std::size_t size, std::size_t stride, std::size_t nodes, F&& f) {
  const std::size_t block = size * stride;
  if (stride == 1) {
    for (std::size_t base = 0; base < nodes; base += block)
      for (std::size_t j = 0; j < size; ++j) f(base + j, j);
    return;
  }
  for (std::size_t base = 0; base < nodes; base += block)
    for (std::size_t j = 0; j < size; ++j)
      for (std::size_t t = 0, p = base + j * stride; t < stride; ++t, ++p) f(p, j);
}

// Thomas' algorithm on (I - theta L) or its transpose along lines of one dimension
// (bands at every node, sub multiplies x[p - row], sup x[p + row]), split in two: the
// factorisation (sub, the inverse pivots and the factors cp) once per step, and the
// substitutions once per solve. Each call runs `lanes` lines side by side, lane t at
// base + t * gap; `fixed` lanes (when not 0) are unrolled. Lines of the fastest
// dimension are serial recurrences, so four run interleaved to overlap their latencies;
// other dimensions run their `row` neighbouring lines as the unit-stride inner loop.
template <bool transposed, std::size_t fixed>
void factorize(const double* lo, const double* di, const double* up, double* sub, double* inverse, double* cp,
               double theta, std::size_t n, std::size_t base, std::size_t lanes, std::size_t gap, std::size_t row) {
  const std::size_t L = fixed ? fixed : lanes;
  for (std::size_t t = 0; t < L; ++t) {
    const std::size_t p = base + t * gap;
    sub[p] = 0.0;
    inverse[p] = 1.0 / (1.0 - theta * di[p]);
    cp[p] = -theta * (transposed ? lo[p + row] : up[p]) * inverse[p];
  }
  for (std::size_t j = 1; j < n; ++j) {
    // The last row has no sup term (up is zero there; lo[p + row] may lie past the end).
    const bool last = j + 1 == n;
    for (std::size_t t = 0; t < L; ++t) {
      const std::size_t p = base + t * gap + j * row;
      sub[p] = -theta * (transposed ? up[p - row] : lo[p]);
      inverse[p] = 1.0 / (1.0 - theta * di[p] - sub[p] * cp[p - row]);
      const double sup = transposed ? (last ? 0.0 : -theta * lo[p + row]) : -theta * up[p];
      cp[p] = sup * inverse[p];
    }
  }
}

template <std::size_t fixed>
void substitute(const double* sub, const double* inverse, const double* cp, double* x, std::size_t n,
                std::size_t base, std::size_t lanes, std::size_t gap, std::size_t row) {
  const std::size_t L = fixed ? fixed : lanes;
  for (std::size_t t = 0; t < L; ++t) x[base + t * gap] *= inverse[base + t * gap];
  for (std::size_t j = 1; j < n; ++j)
    for (std::size_t t = 0; t < L; ++t) {
      const std::size_t p = base + t * gap + j * row;
      x[p] = (x[p] - sub[p] * x[p - row]) * inverse[p];
    }
  for (std::size_t j = n - 1; j-- > 0;)
    for (std::size_t t = 0; t < L; ++t) {
      const std::size_t p = base + t * gap + j * row;
      x[p] -= cp[p] * x[p + row];
    }
}

// Calls kernel.template operator()<fixed>(base, lanes, gap, row) over all lines of a
// dimension of n nodes and stride `stride`.
template <class K>
void each_line_group(std::size_t n, std::size_t stride, std::size_t nodes, K&& kernel) {
  if (stride == 1) {
    const std::size_t lines = nodes / n;
    std::size_t l = 0;
    for (; l + 4 <= lines; l += 4) kernel.template operator()<4>(l * n, 4, n, 1);
    for (; l < lines; ++l) kernel.template operator()<1>(l * n, 1, n, 1);
  } else {
    for (std::size_t base = 0; base < nodes; base += n * stride) kernel.template operator()<0>(base, stride, 1, stride);
  }
}

}  // namespace

craig_sneyd_scheme::craig_sneyd_scheme(std::shared_ptr<const time_grid> grid,
                                       const std::vector<std::shared_ptr<const space_grid>>& axes,
                                       const std::vector<bool>& linear_boundaries, const matrix<double>& correlation,
                                       bool rannacher)
    : pde_scheme(std::move(grid), rannacher), axes_(axes), nodes_(1) {
  const std::size_t k = axes_.size();
  for (std::size_t d = 0; d < k; ++d) {
    directions_.emplace_back(axes_[d]->size(), nodes_, linear_boundaries[d], axes_[d]->axis());
    nodes_ *= axes_[d]->size();
  }
  for (std::size_t d = 0; d < k; ++d) {
    direction& r = directions_[d];
    for (auto* v : {&r.lower, &r.diagonal, &r.upper, &r.factor, &r.sub, &r.inverse, &r.span})
      *v = vector<double>(nodes_, 0.0);
    const double* y = axes_[d]->axis().data();
    each_node(r.size, r.stride, nodes_, [&](std::size_t p, std::size_t j) {
      if (j > 0 && j + 1 < r.size) r.span[p] = 1.0 / (y[j + 1] - y[j - 1]);
    });
  }
  for (std::size_t a = 0; a < k; ++a)
    for (std::size_t b = a + 1; b < k; ++b) {
      crosses_.push_back(cross{a, b, correlation(a, b), vector<double>(nodes_, 0.0)});
      margin_ = std::max(margin_, directions_[a].stride + directions_[b].stride);
    }
  lv_.assign(k, vector<double>(nodes_, 0.0));
  for (auto* v : {&l0v_, &y0_, &y_, &tmp_}) *v = vector<double>(nodes_, 0.0);
  padded_ = vector<double>(nodes_ + 2 * margin_, 0.0);
}

void craig_sneyd_scheme::apply(std::size_t d, double w, const double* in, double* out, bool transposed,
                               bool accumulate) const {
  const direction& r = directions_[d];
  const double *lo = r.lower.data(), *di = r.diagonal.data(), *up = r.upper.data();
  const std::size_t s = r.stride, n = nodes_;
  // L v at p reads v[p -+ s] through lo[p], up[p]; its transpose reads them through
  // up[p - s], lo[p + s]. A neighbour across a line's end has a zero band, so the
  // middle range needs no test of the line index.
  if (accumulate)
    for (std::size_t p = 0; p < n; ++p) out[p] += w * di[p] * in[p];
  else
    for (std::size_t p = 0; p < n; ++p) out[p] = w * di[p] * in[p];
  if (!transposed) {
    for (std::size_t p = s; p < n; ++p) out[p] += w * lo[p] * in[p - s];
    for (std::size_t p = 0; p + s < n; ++p) out[p] += w * up[p] * in[p + s];
  } else {
    for (std::size_t p = s; p < n; ++p) out[p] += w * up[p - s] * in[p - s];
    for (std::size_t p = 0; p + s < n; ++p) out[p] += w * lo[p + s] * in[p + s];
  }
}

void craig_sneyd_scheme::solve(std::size_t d, double theta, double* x, bool transposed) {
  if (theta == 0.0) return;
  direction& r = directions_[d];
  const std::size_t n = r.size;
  double *sub = r.sub.data(), *inverse = r.inverse.data(), *cp = r.factor.data();
  if (!(r.factored_theta == theta && r.factored_transposed == transposed)) {
    // Both sweeps of a step, and every result, solve with the same matrix.
    const double *lo = r.lower.data(), *di = r.diagonal.data(), *up = r.upper.data();
    each_line_group(n, r.stride, nodes_, [&]<std::size_t fixed>(std::size_t base, std::size_t lanes, std::size_t gap,
                                                                std::size_t row) {
      if (transposed)
        factorize<true, fixed>(lo, di, up, sub, inverse, cp, theta, n, base, lanes, gap, row);
      else
        factorize<false, fixed>(lo, di, up, sub, inverse, cp, theta, n, base, lanes, gap, row);
    });
    r.factored_theta = theta;
    r.factored_transposed = transposed;
  }
  each_line_group(n, r.stride, nodes_, [&]<std::size_t fixed>(std::size_t base, std::size_t lanes, std::size_t gap,
                                                              std::size_t row) {
    substitute<fixed>(sub, inverse, cp, x, n, base, lanes, gap, row);
  });
}

void craig_sneyd_scheme::mixed(double w, const double* in, double* out, bool transposed) {
  std::fill(out, out + nodes_, 0.0);
  for (const cross& c : crosses_) {
    const std::size_t sa = directions_[c.a].stride, sb = directions_[c.b].stride, far = sa + sb;
    const double* weight = c.weight.data();
    if (!transposed) {
      // Nodes below `far` or within `far` of the end lie on an edge of a or b (weight 0).
      for (std::size_t p = far; p + far < nodes_; ++p)
        out[p] += w * weight[p] * (in[p + sa + sb] - in[p - sa + sb] - in[p + sa - sb] + in[p - sa - sb]);
    } else {
      // Transpose: z = weight in, read at the mirrored offsets; a read across an edge of
      // a or b lands on an edge node (weight 0) or in the zero margin.
      double* z = padded_.data() + margin_;
      for (std::size_t p = 0; p < nodes_; ++p) z[p] = weight[p] * in[p];
      const double *mm = z - (sa + sb), *pm = z - (sb - sa), *mp = z + (sb - sa), *pp = z + (sa + sb);
      for (std::size_t q = 0; q < nodes_; ++q) out[q] += w * (mm[q] - pm[q] - mp[q] + pp[q]);
    }
  }
}

void craig_sneyd_scheme::step(double* v, double scale, double theta, bool correct) {
  const std::size_t n = nodes_, k = directions_.size();
  // Explicit predictor Y0 = V + L V, then one implicit correction per direction.
  for (std::size_t d = 0; d < k; ++d) apply(d, scale, v, lv_[d].data(), false, false);
  mixed(scale, v, l0v_.data(), false);
  for (std::size_t p = 0; p < n; ++p) y0_[p] = v[p] + l0v_[p];
  for (std::size_t d = 0; d < k; ++d)
    for (std::size_t p = 0; p < n; ++p) y0_[p] += lv_[d][p];
  const auto sweep = [&] {
    for (std::size_t p = 0; p < n; ++p) y_[p] = y0_[p];
    for (std::size_t d = 0; d < k; ++d) {
      for (std::size_t p = 0; p < n; ++p) y_[p] -= theta * lv_[d][p];
      solve(d, theta * scale, y_.data(), false);
    }
  };
  sweep();
  if (correct) {
    // Craig-Sneyd: the mixed term re-evaluated at the predicted value and averaged, then
    // the same implicit corrections again.
    mixed(scale, y_.data(), tmp_.data(), false);
    for (std::size_t p = 0; p < n; ++p) y0_[p] += 0.5 * (tmp_[p] - l0v_[p]);
    sweep();
  }
  std::copy_n(y_.data(), n, v);
}

void craig_sneyd_scheme::step_transposed(double* v, double scale, double theta, bool correct) {
  // Reverse mode of step(): v enters as the adjoint of the step's output and leaves as
  // that of its input. lv_[d] gathers the adjoint of L_d V, y0_ that of Y0.
  const std::size_t n = nodes_, k = directions_.size();
  std::copy_n(v, n, y_.data());
  const auto sweep = [&](vector<double>& x, bool first) {
    for (std::size_t d = k; d-- > 0;) {
      solve(d, theta * scale, x.data(), true);
      double* l = lv_[d].data();
      for (std::size_t p = 0; p < n; ++p) l[p] = (first ? 0.0 : l[p]) - theta * x[p];
    }
  };
  sweep(y_, true);  // y_: adjoint of the start of the last sweep
  if (correct) {
    // Through Y0~ = Y0 + (M Y - M V) / 2: tmp_ becomes the adjoint of Y, swept back.
    mixed(0.5 * scale, y_.data(), tmp_.data(), true);
    sweep(tmp_, false);
    for (std::size_t p = 0; p < n; ++p) {
      y0_[p] = y_[p] + tmp_[p];
      y_[p] = y0_[p] - 0.5 * y_[p];  // the adjoint of M V
    }
  } else {
    std::copy_n(y_.data(), n, y0_.data());
  }
  // V's adjoint: Y0's, the mixed term's and each direction's, transposed.
  mixed(scale, y_.data(), v, true);
  for (std::size_t p = 0; p < n; ++p) v[p] += y0_[p];
  for (std::size_t d = 0; d < k; ++d) {
    double* l = lv_[d].data();
    for (std::size_t p = 0; p < n; ++p) l[p] += y0_[p];
    apply(d, scale, l, v, true, true);
  }
}

void craig_sneyd_scheme::advance(pde_storage& storage, const pde_coefficient_views& coefficients, double) {
  const std::size_t k = directions_.size();
  TARVEX_CHECK(coefficients.size() == k, "ADI scheme on ", k, " grids got ", coefficients.size(),
               " coefficient objects");
  TARVEX_CHECK(storage.nodes() == nodes_, "solution has ", storage.nodes(), " nodes, the grids ", nodes_);
  for (std::size_t d = 0; d < k; ++d) {
    direction& r = directions_[d];
    const auto& c = *coefficients[d].first;
    const double *diffusion = c.diffusion().data(), *convection = c.convection().data(), *reaction = c.reaction().data();
    double *lo = r.lower.data(), *di = r.diagonal.data(), *up = r.upper.data();
    const pde_stencil& w = r.stencil;
    const std::size_t last = r.size - 1;
    const bool held = !r.linear;
    r.factored_theta = 0.0;  // new bands: factorise again
    each_node(r.size, r.stride, nodes_, [&](std::size_t p, std::size_t j) {
      const double dd = diffusion[p], cc = convection[p];
      lo[p] = dd * w.second_lower[j] + cc * w.first_lower[j];
      up[p] = dd * w.second_upper[j] + cc * w.first_upper[j];
      di[p] = dd * w.second_diagonal[j] + cc * w.first_diagonal[j] + reaction[p];
      if (held && (j == 0 || j == last)) lo[p] = di[p] = up[p] = 0.0;  // the end values are held
    });
  }
  // Cross terms rho sqrt(var_a var_b) V_ab with var = 2 diffusion, central differences.
  for (cross& c : crosses_) {
    const double* da = coefficients[c.a].first->diffusion().data();
    const double* db = coefficients[c.b].first->diffusion().data();
    const double *sa = directions_[c.a].span.data(), *sb = directions_[c.b].span.data();
    double* weight = c.weight.data();
    const double twice = 2.0 * c.correlation;
    for (std::size_t p = 0; p < nodes_; ++p) weight[p] = twice * std::sqrt(da[p] * db[p]) * sa[p] * sb[p];
  }
  const bool transposed = grid_->is_direction_forward();
  for (std::size_t r = 0; r < storage.number_of_results(); ++r) {
    double* v = storage.slice(r);
    if (transposed) {
      if (start_up_) {
        step_transposed(v, 0.5, 1.0, false);
        step_transposed(v, 0.5, 1.0, false);
      } else {
        step_transposed(v, 1.0, 0.5, true);
      }
    } else if (start_up_) {
      step(v, 0.5, 1.0, false);
      step(v, 0.5, 1.0, false);
    } else {
      step(v, 1.0, 0.5, true);
    }
  }
}

}  // namespace tarvex
