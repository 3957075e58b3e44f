#include "simulation_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/common/diffusion.h"
#include "Analytics/diffusion/ir/diffusion_ir_cheyette.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Core/parallel_for.h"
#include "Math/quantile_summary.h"
#include "Util/datetime_helper.h"
#include "Vectorization/expression.h"
#include "batch_fold.h"
#include "progress_bar.h"

namespace tarvex::app {
namespace {

// Four running sums keep the adds independent (and the result fixed for a given input).
void add_sums(const vector<double>& x, double& sum, double& sum2) {
  const double* v = x.data();
  const std::size_t n = x.size(), n4 = n - n % 4;
  double s[4] = {0, 0, 0, 0}, q[4] = {0, 0, 0, 0};
  for (std::size_t p = 0; p < n4; p += 4)
    for (std::size_t l = 0; l < 4; ++l) {
      s[l] += v[p + l];
      q[l] += v[p + l] * v[p + l];
    }
  for (std::size_t p = n4; p < n; ++p) {
    s[0] += v[p];
    q[0] += v[p] * v[p];
  }
  sum += (s[0] + s[1]) + (s[2] + s[3]);
  sum2 += (q[0] + q[1]) + (q[2] + q[3]);
}

struct batch_sums {
  std::vector<double> sum, sum2;        // [date * maturities + maturity]
  std::vector<double> zero_sum;         // [tenor * dates + date]
};

// What a batch hands to the fold: its zero-rate summaries and exported paths.
struct batch_output {
  std::vector<quantile_summary> zero;  // [tenor * dates + date]
  std::vector<double> paths;           // [path][chosen date][chosen tenor]
};

}  // namespace

std::size_t quantile_capacity(std::size_t paths, std::size_t series, std::size_t requested) {
  if (requested > 0) return requested;
  if (static_cast<double>(paths) * static_cast<double>(series) <= static_cast<double>(1u << 24))
    return std::max<std::size_t>(2, paths);
  return 4096;
}

std::string quantile_method(std::size_t paths, std::size_t capacity) {
  if (capacity >= paths) return "exact (type 7)";
  return "compactor summary, " + std::to_string(capacity) + " values per level";
}

std::string quantile_method_tag(std::size_t paths, std::size_t capacity) {
  return capacity >= paths ? "exact" : "compactor(" + std::to_string(capacity) + ")";
}

simulation_result run_simulation(const simulation_job& job, progress_bar* progress, const path_export* paths) {
  const auto start = std::chrono::steady_clock::now();
  const datetime today = job.today.valuation_date;
  const std::size_t P = job.paths_per_batch, B = job.batches, D = job.dates.size() - 1;
  const std::size_t M = job.bond_maturities.size(), Z = job.zero_rate_tenors.size();
  const std::size_t total_paths = P * B;

  simulation_result r;
  r.paths = total_paths;
  r.quantile_capacity = quantile_capacity(total_paths, Z * D, job.quantile_capacity);
  r.dates.assign(job.dates.begin() + 1, job.dates.end());
  for (const auto& t : job.bond_maturities) r.maturities.push_back(datetime_helper::add_tenor(today, t, 1));
  std::vector<std::vector<datetime>> zero_ends(Z);
  std::vector<std::vector<double>> zero_fraction(Z);
  for (std::size_t z = 0; z < Z; ++z)
    for (const auto& t : r.dates) {
      zero_ends[z].push_back(datetime_helper::add_tenor(t, job.zero_rate_tenors[z], 1));
      zero_fraction[z].push_back(job.today.day_count->fraction(t, zero_ends[z].back()));
    }

  const auto& factor = job.factors.front();
  const std::size_t F = factor.parameters->number_of_factors();
  std::shared_ptr<const diffusion> rates;
  if (factor.cheyette)
    rates = std::make_shared<const diffusion_ir_cheyette>(job.dates, job.today.curve, factor.cheyette);
  else
    rates = std::make_shared<const diffusion_ir_markovian_hjm>(job.dates, job.today.curve, factor.parameters);

  // Quantiles come from one summary per (tenor, date), the batches' summaries folded in
  // batch order: memory grows with the summaries' size, not with the paths.
  const std::size_t E = paths ? paths->dates.size() * paths->tenors.size() : 0;
  std::vector<std::size_t> export_slot(Z * D, E);  // [tenor * dates + date] -> column, E: none
  if (paths)
    for (std::size_t d = 0; d < paths->dates.size(); ++d)
      for (std::size_t z = 0; z < paths->tenors.size(); ++z)
        export_slot[paths->tenors[z] * D + paths->dates[d]] = d * paths->tenors.size() + z;
  std::vector<quantile_summary> zero(Z * D, quantile_summary(r.quantile_capacity));
  batch_fold<batch_output> fold([&](std::size_t b, batch_output&& out) {
    for (std::size_t i = 0; i < Z * D; ++i) zero[i].merge(out.zero[i]);
    if (paths) paths->write(b * P, P, out.paths);
  });

  std::vector<batch_sums> sums(B);
  smp_tools_api::GetInstance().parallel_for(0, B, 1, [&](std::size_t first, std::size_t last) {
    vector<double> numeraire(P), log_bond(P), value(P);
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t b = fold.claim();
      auto config = std::make_shared<const random_config>(job.generator, job.seed, P, job.dates.size(), F, b, false,
                                                          false, job.generator, device_type::cpu);
      simulation_manager manager({rates}, {nullptr}, job.correlation, config, job.dates);
      manager.states_initialize();
      const auto curve = diffusion::diffusion_discount_curve(manager.data(0));
      batch_sums& s = sums[b];
      s.sum.assign(D * M, 0.0);
      s.sum2.assign(D * M, 0.0);
      s.zero_sum.assign(Z * D, 0.0);
      batch_output out{std::vector<quantile_summary>(Z * D, quantile_summary(r.quantile_capacity)),
                       std::vector<double>(P * E)};
      for (std::size_t k = 1; k <= D; ++k) {
        manager.propagate(k);
        const datetime& t = job.dates[k];
        curve->discounting(numeraire, t);
        for (std::size_t m = 0; m < M; ++m) {
          if (r.maturities[m] < t) continue;
          curve->log_df(log_bond, t, r.maturities[m]);
          value = numeraire * exp(log_bond);
          add_sums(value, s.sum[(k - 1) * M + m], s.sum2[(k - 1) * M + m]);
        }
        for (std::size_t z = 0; z < Z; ++z) {
          curve->log_df(log_bond, t, zero_ends[z][k - 1]);
          value = log_bond * (-1.0 / zero_fraction[z][k - 1]);
          double unused = 0.0;
          add_sums(value, s.zero_sum[z * D + k - 1], unused);
          out.zero[z * D + k - 1].add(value.data(), P);
          if (const std::size_t c = export_slot[z * D + k - 1]; c < E)
            for (std::size_t p = 0; p < P; ++p) out.paths[p * E + c] = value[p];
        }
        if (progress) progress->advance();
      }
      fold.done(b, std::move(out));
    }
  });

  const double n = static_cast<double>(total_paths);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  r.today.assign(D, std::vector<double>(M, nan));
  r.mean = r.error = r.today;
  for (std::size_t k = 0; k < D; ++k)
    for (std::size_t m = 0; m < M; ++m) {
      if (r.maturities[m] < r.dates[k]) continue;
      double sum = 0.0, sum2 = 0.0;
      for (const auto& s : sums) sum += s.sum[k * M + m], sum2 += s.sum2[k * M + m];
      const double mean = sum / n;
      r.today[k][m] = job.today.curve->df(r.maturities[m]);
      r.mean[k][m] = mean;
      r.error[k][m] = std::sqrt(std::max(0.0, (sum2 - n * mean * mean) / (n - 1.0)) / n);
    }
  r.zero_quantiles.assign(Z, std::vector<std::vector<double>>(D));
  r.zero_mean.assign(Z, std::vector<double>(D));
  r.zero_rank_error.assign(Z, std::vector<std::uint64_t>(D));
  for (std::size_t z = 0; z < Z; ++z)
    for (std::size_t k = 0; k < D; ++k) {
      double sum = 0.0;
      for (const auto& s : sums) sum += s.zero_sum[z * D + k];
      r.zero_mean[z][k] = sum / n;
      r.zero_rank_error[z][k] = zero[z * D + k].rank_error();
    }
  smp_tools_api::GetInstance().parallel_for(0, Z * D, 1, [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) r.zero_quantiles[i / D][i % D] = zero[i].quantiles(job.quantiles);
  });
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

}  // namespace tarvex::app
