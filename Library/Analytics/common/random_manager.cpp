#include "Analytics/common/random_manager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/check.h"
#include "Core/cpu_allocator.h"
#include "Vectorization/vectorized_math.h"

namespace tarvex {
namespace {

double dot(const double* x, const double* y, std::size_t n) {
  double sum = 0.0;
  for (std::size_t p = 0; p < n; ++p) sum += x[p] * y[p];
  return sum;
}

// a * b, refusing products that wrap (the buffer would silently be too small).
std::size_t checked_product(std::size_t a, std::size_t b) {
  TARVEX_CHECK(b == 0 || a <= std::numeric_limits<std::size_t>::max() / b, "random buffer of ", a, " x ", b,
               " doubles overflows");
  return a * b;
}

bool lower_triangular(const matrix<double>& l) {
  for (std::size_t f = 0; f < l.rows(); ++f)
    for (std::size_t g = f + 1; g < l.columns(); ++g)
      if (l(f, g) != 0.0) return false;
  return true;
}

// out = L z for the B x P rows z, by blocks of paths that stay in L1 while every row of
// the block is formed; each element is summed in column order. A Cholesky factor's zeros
// above the diagonal are skipped, and then out may be z itself: rows are formed from the
// last up, each from rows not yet overwritten.
[[gnu::always_inline]] inline void correlate_block_rows(const matrix<double>& lower, bool triangular, const double* z,
                                                      double* out, std::size_t brownians, std::size_t paths) {
  constexpr std::size_t chunk = 512;
  alignas(64) double sum[chunk];
  for (std::size_t p0 = 0; p0 < paths; p0 += chunk) {
    const std::size_t m = std::min(chunk, paths - p0);
    for (std::size_t f = brownians; f-- > 0;) {
      const double* z0 = z + p0;
      const double l0 = lower(f, 0);
      for (std::size_t p = 0; p < m; ++p) sum[p] = l0 * z0[p];
      for (std::size_t g = 1, last = triangular ? f : brownians - 1; g <= last; ++g) {
        const double* zg = z + g * paths + p0;
        const double l = lower(f, g);
        for (std::size_t p = 0; p < m; ++p) sum[p] += l * zg[p];
      }
      std::copy_n(sum, m, out + f * paths + p0);
    }
  }
}

// The same pass compiled for baseline x86-64, AVX2 and AVX-512F, chosen by the CPU.
// Unfused multiplies and adds on every level (the file is built with
// -ffp-contract=off), so the correlated draws do not depend on the instruction set.
void correlate_rows_baseline(const matrix<double>& lower, bool triangular, const double* z, double* out,
                             std::size_t brownians, std::size_t paths) {
  correlate_block_rows(lower, triangular, z, out, brownians, paths);
}
[[gnu::target("avx2")]] void correlate_rows_avx2(const matrix<double>& lower, bool triangular, const double* z,
                                                double* out, std::size_t brownians, std::size_t paths) {
  correlate_block_rows(lower, triangular, z, out, brownians, paths);
}
[[gnu::target("avx512f")]] void correlate_rows_avx512(const matrix<double>& lower, bool triangular, const double* z,
                                                     double* out, std::size_t brownians, std::size_t paths) {
  correlate_block_rows(lower, triangular, z, out, brownians, paths);
}
void correlate_rows(const matrix<double>& lower, bool triangular, const double* z, double* out,
                    std::size_t brownians, std::size_t paths) {
  static const simd_level level = active_simd_level();
  if (level == simd_level::avx512)
    correlate_rows_avx512(lower, triangular, z, out, brownians, paths);
  else if (level == simd_level::avx2)
    correlate_rows_avx2(lower, triangular, z, out, brownians, paths);
  else
    correlate_rows_baseline(lower, triangular, z, out, brownians, paths);
}

}  // namespace

random_manager::random_manager(const std::shared_ptr<const random_config>& config) : config_(config) {
  TARVEX_CHECK(config_ != nullptr, "random manager built without a configuration");
  const auto& settings = *config_->settings();
  generator_ = random::random_generator_factory(config_->main_generator_type(), config_->settings());
  upfront_ = random::generate_upfront_onley(config_->main_generator_type());

  // Gram-Schmidt can make at most P rows of length P orthogonal: every row beyond that
  // is what rounding leaves of a projected-out vector, scaled up to mean square 1 (or
  // 0 / 0 with one path). Refused before anything is drawn.
  if (upfront_ && settings.orthogonalization())
    TARVEX_CHECK_TEXT(settings.number_of_paths_per_batch() >=
                          settings.number_of_simulation_dates() * settings.number_of_brownians(),
                      "random_manager: orthogonalised up-front draws need at least ",
                      settings.number_of_simulation_dates() * settings.number_of_brownians(), " paths per batch (",
                      settings.number_of_simulation_dates(), " dates x ", settings.number_of_brownians(),
                      " brownians), got ", settings.number_of_paths_per_batch());

  const std::size_t block = checked_product(settings.number_of_brownians(), settings.number_of_paths_per_batch());
  size_ = checked_product(upfront_ ? settings.number_of_simulation_dates() : 2, block);
  buffer_.reset(static_cast<double*>(cpu_allocator::allocate(checked_product(size_, sizeof(double)))));
  half_ = size_ / 2;

  if (upfront_) {
    generator_->fill(buffer_.get(), size_, size_ * settings.batch_index());
    if (settings.orthogonalization()) orthogonalize();
  }
}

void random_manager::buffer_deleter::operator()(double* buffer) const noexcept { cpu_allocator::free(buffer); }

std::size_t random_manager::number_of_paths() const { return config_->settings()->number_of_paths_per_batch(); }

// Modified Gram-Schmidt over the D B rows in buffer order (row r is factor r mod B of
// step r / B): each earlier, already normalised row is projected out of the current
// row as it stands, which keeps the rows orthogonal to working precision where the
// classical variant loses orthogonality. Each row is then scaled to mean square 1
// over the paths, the second moment of a standard normal.
void random_manager::orthogonalize() {
  const std::size_t paths = number_of_paths();
  const std::size_t rows = size_ / paths;
  for (std::size_t r = 0; r < rows; ++r) {
    double* x = buffer_.get() + r * paths;
    for (std::size_t j = 0; j < r; ++j) {
      const double* y = buffer_.get() + j * paths;
      const double c = dot(x, y, paths) / dot(y, y, paths);
      for (std::size_t p = 0; p < paths; ++p) x[p] -= c * y[p];
    }
    const double s = std::sqrt(dot(x, x, paths) / static_cast<double>(paths));
    for (std::size_t p = 0; p < paths; ++p) x[p] /= s;
  }
}

matrix<double> random_manager::correlate(std::size_t step, const matrix<double>& lower) {
  const auto& settings = *config_->settings();
  const std::size_t brownians = settings.number_of_brownians(), paths = settings.number_of_paths_per_batch();
  TARVEX_CHECK(lower.rows() == brownians && lower.columns() == brownians, "correlation factor of ", lower.rows(),
               " x ", lower.columns(), " for ", brownians, " brownians");

  // A triangular factor correlates the per-step draws in place: half the memory the
  // step streams through.
  const bool triangular = lower_triangular(lower);
  const double* draws = nullptr;
  double* out = nullptr;
  if (upfront_) {
    // Block 0 is the output area, so step 0 (the initial date) has no draws.
    TARVEX_CHECK(step >= 1 && step < settings.number_of_simulation_dates(), "step ", step, " of ",
                 settings.number_of_simulation_dates(), " simulation dates drawn up front");
    draws = buffer_.get() + step * brownians * paths;
    out = buffer_.get();
  } else {
    double* z = buffer_.get();
    // Only the per-step generators fill; any other code simulates with zero noise.
    const auto type = config_->main_generator_type();
    if (type == random_type::philox || type == random_type::mersenne_twister || type == random_type::threefry)
      generator_->fill(z, half_, half_ * settings.batch_index());
    else
      std::fill_n(z, half_, 0.0);
    draws = z;
    out = triangular ? z : buffer_.get() + half_;
  }
  correlate_rows(lower, triangular, draws, out, brownians, paths);
  return matrix<double>::view(out, brownians, paths);
}

}  // namespace tarvex
