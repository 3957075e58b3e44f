#include "PDE/craig_sneyd_scheme.h"

#include <algorithm>
#include <cmath>

#include "Core/check.h"

namespace tarvex {

craig_sneyd_scheme::craig_sneyd_scheme(std::shared_ptr<const time_grid> grid,
                                       const std::vector<std::shared_ptr<const space_grid>>& axes,
                                       const std::vector<bool>& linear_boundaries, double correlation, bool rannacher)
    : pde_scheme(std::move(grid), rannacher),
      axes_(axes),
      linear_(linear_boundaries),
      correlation_(correlation),
      n0_(axes[0]->size()),
      n1_(axes[1]->size()),
      stencil0_(axes[0]->axis()),
      stencil1_(axes[1]->axis()) {
  TARVEX_CHECK(!grid_->is_direction_forward(), "craig_sneyd runs on backward grids only");
  bands0_.resize(n1_);
  for (auto& b : bands0_) b.resize(n0_);
  line1_.resize(n1_);
  const std::size_t n = n0_ * n1_;
  for (auto* v : {&mixed_weight_, &l1v_, &l2v_, &l0v_, &y0_, &y_, &tmp_, &lower1_, &diagonal1_, &upper1_, &factor1_})
    *v = vector<double>(n, 0.0);
  scratch_ = vector<double>(std::max(n0_, n1_), 0.0);
}

void craig_sneyd_scheme::apply(std::size_t d, double w, const double* in, double* out, double identity) const {
  if (d == 0) {
    for (std::size_t j = 0; j < n1_; ++j)
      pde_detail::apply(bands0_[j], w, in + j * n0_, out + j * n0_, 1, n0_, false, identity);
  } else {
    const double *lo = lower1_.data(), *di = diagonal1_.data(), *up = upper1_.data();
    for (std::size_t j = 0; j < n1_; ++j) {
      const std::size_t row = j * n0_;
      for (std::size_t i = 0; i < n0_; ++i) {
        const std::size_t p = row + i;
        double sum = di[p] * in[p];
        if (j > 0) sum += lo[p] * in[p - n0_];
        if (j + 1 < n1_) sum += up[p] * in[p + n0_];
        out[p] = identity * in[p] + w * sum;
      }
    }
  }
}

void craig_sneyd_scheme::solve(std::size_t d, double theta, double* x) {
  if (d == 0) {
    for (std::size_t j = 0; j < n1_; ++j) pde_detail::solve(bands0_[j], theta, x + j * n0_, 1, n0_, scratch_.data(), false);
  } else {
    // Thomas' algorithm down the columns, all n0 of them at once.
    const double *lo = lower1_.data(), *di = diagonal1_.data(), *up = upper1_.data();
    double* cp = factor1_.data();
    for (std::size_t i = 0; i < n0_; ++i) {
      const double b = 1.0 - theta * di[i];
      cp[i] = -theta * up[i] / b;
      x[i] /= b;
    }
    for (std::size_t j = 1; j < n1_; ++j)
      for (std::size_t i = 0; i < n0_; ++i) {
        const std::size_t p = j * n0_ + i;
        const double s = -theta * lo[p], b = 1.0 - theta * di[p] - s * cp[p - n0_];
        cp[p] = -theta * up[p] / b;
        x[p] = (x[p] - s * x[p - n0_]) / b;
      }
    for (std::size_t j = n1_ - 1; j-- > 0;)
      for (std::size_t i = 0; i < n0_; ++i) x[j * n0_ + i] -= cp[j * n0_ + i] * x[(j + 1) * n0_ + i];
  }
}

void craig_sneyd_scheme::mixed(double w, const double* in, double* out) const {
  const double* y0 = axes_[0]->axis().data();
  const double* y1 = axes_[1]->axis().data();
  std::fill(out, out + n0_ * n1_, 0.0);
  for (std::size_t j = 1; j + 1 < n1_; ++j)
    for (std::size_t i = 1; i + 1 < n0_; ++i) {
      const std::size_t p = j * n0_ + i;
      const double cross = in[p + n0_ + 1] - in[p + n0_ - 1] - in[p - n0_ + 1] + in[p - n0_ - 1];
      out[p] = w * mixed_weight_[p] * cross / ((y0[i + 1] - y0[i - 1]) * (y1[j + 1] - y1[j - 1]));
    }
}

void craig_sneyd_scheme::step(double* v, double scale, double theta, bool correct) {
  const std::size_t n = n0_ * n1_;
  // Explicit predictor Y0 = V + L V, then one implicit correction per direction.
  apply(0, scale, v, l1v_.data(), 0.0);
  apply(1, scale, v, l2v_.data(), 0.0);
  mixed(scale, v, l0v_.data());
  for (std::size_t p = 0; p < n; ++p) y0_[p] = v[p] + l0v_[p] + l1v_[p] + l2v_[p];
  const auto sweep = [&](const vector<double>& start) {
    for (std::size_t p = 0; p < n; ++p) y_[p] = start[p] - theta * l1v_[p];
    solve(0, theta * scale, y_.data());
    for (std::size_t p = 0; p < n; ++p) y_[p] -= theta * l2v_[p];
    solve(1, theta * scale, y_.data());
  };
  sweep(y0_);
  if (correct) {
    // Craig-Sneyd: the mixed term re-evaluated at the predicted value and averaged, then
    // the same implicit corrections again.
    mixed(scale, y_.data(), tmp_.data());
    for (std::size_t p = 0; p < n; ++p) y0_[p] += 0.5 * (tmp_[p] - l0v_[p]);
    sweep(y0_);
  }
  std::copy_n(y_.data(), n, v);
}

void craig_sneyd_scheme::advance(pde_storage& storage, const pde_coefficient_views& coefficients, double) {
  TARVEX_CHECK(coefficients.size() == 2, "two-dimensional scheme got ", coefficients.size(), " coefficient objects");
  TARVEX_CHECK(storage.nodes() == n0_ * n1_, "solution has ", storage.nodes(), " nodes, the grids ", n0_ * n1_);
  const auto& c0 = *coefficients[0].first;
  const auto& c1 = *coefficients[1].first;
  for (std::size_t j = 0; j < n1_; ++j)
    pde_detail::fill_bands(bands0_[j], stencil0_, c0.diffusion().data(), c0.convection().data(),
                           c0.reaction().data(), j * n0_, 1, linear_[0]);
  for (std::size_t i = 0; i < n0_; ++i) {
    pde_detail::fill_bands(line1_, stencil1_, c1.diffusion().data(), c1.convection().data(),
                           c1.reaction().data(), i, n0_, linear_[1]);
    for (std::size_t j = 0; j < n1_; ++j) {
      lower1_[j * n0_ + i] = line1_.lower[j];
      diagonal1_[j * n0_ + i] = line1_.diagonal[j];
      upper1_[j * n0_ + i] = line1_.upper[j];
    }
  }
  // Cross term rho sqrt(var0 var1) V_01 with var = 2 diffusion.
  const double* d0 = c0.diffusion().data();
  const double* d1 = c1.diffusion().data();
  for (std::size_t p = 0; p < n0_ * n1_; ++p) mixed_weight_[p] = 2.0 * correlation_ * std::sqrt(d0[p] * d1[p]);
  for (std::size_t r = 0; r < storage.number_of_results(); ++r) {
    double* v = storage.slice(r);
    if (start_up_) {
      step(v, 0.5, 1.0, false);
      step(v, 0.5, 1.0, false);
    } else {
      step(v, 1.0, 0.5, true);
    }
  }
}

}  // namespace tarvex
