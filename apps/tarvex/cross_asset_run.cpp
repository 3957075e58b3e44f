#include "cross_asset_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <ostream>

#include "Analytics/change_of_measure/quanto_change_of_measure.h"
#include "Analytics/common/random_config.h"
#include "Analytics/common/simulation_manager.h"
#include "Analytics/diffusion/credit/diffusion_credit_black_karasinski.h"
#include "Analytics/diffusion/credit/diffusion_credit_extended_cir.h"
#include "Analytics/diffusion/credit/diffusion_credit_markovian_hjm.h"
#include "Analytics/diffusion/equity/diffusion_equity_lognormal.h"
#include "Analytics/diffusion/fx/diffusion_fx_lognormal.h"
#include "Analytics/diffusion/ir/diffusion_ir_black_karasinski.h"
#include "Analytics/diffusion/ir/diffusion_ir_markovian_hjm.h"
#include "Analytics/parameters/parameter_extended_cir.h"
#include "Analytics/parameters/parameter_lognormal.h"
#include "Core/parallel_for.h"
#include "Market/equity_spot.h"
#include "Market/fx_spot.h"
#include "Market/interpolated_survival_curve.h"
#include "Math/quantile_summary.h"
#include "Util/datetime_helper.h"
#include "batch_fold.h"
#include "charts.h"
#include "input_error.h"
#include "output_folder.h"
#include "simulation_job.h"
#include "simulation_run.h"

namespace tarvex::app {
namespace fs = std::filesystem;
namespace {

std::shared_ptr<const parameter_lognormal> flat_lognormal(double sigma, const datetime& today) {
  return std::make_shared<const parameter_lognormal>(matrix<double>(1, 1, sigma), matrix<double>(1, 1, 1.0),
                                                     std::vector<datetime>{today}, nullptr);
}

// The library's FX diffusion reads its simulated curves from the run's first two market
// objects and the equity diffusion from the first: with several currencies each is handed
// its own currencies' curves instead (`curves`, indices into the run's diffusions).
template <class base>
class bound_to_curves final : public base {
 public:
  template <class... arguments>
  explicit bound_to_curves(std::vector<std::size_t> curves, arguments&&... a)
      : base(std::forward<arguments>(a)...), curves_(std::move(curves)) {}

  std::shared_ptr<const market_data> create_market_data(
      const std::shared_ptr<const diffusion>& self, matrix<double>&& states, matrix<double>&& states_previous,
      const std::vector<std::shared_ptr<const market_data>>& created_so_far) const override {
    std::vector<std::shared_ptr<const market_data>> curves;
    for (const std::size_t c : curves_) curves.push_back(created_so_far.at(c));
    return base::create_market_data(self, std::move(states), std::move(states_previous), curves);
  }

 private:
  std::vector<std::size_t> curves_;
};

struct run_objects {
  std::vector<std::shared_ptr<const diffusion>> diffusions;  // currencies, FX, equities, credits
  std::vector<std::shared_ptr<const change_of_measure>> measures;
  std::vector<std::shared_ptr<const survival_curve>> credit_curves;
  std::size_t first_fx = 0, first_equity = 0, first_credit = 0;
};

run_objects build(const cross_asset_job& job) {
  run_objects o;
  const datetime today = job.valuation_date;
  const auto curve = [&](std::size_t c) { return job.currencies[c].today.curve; };
  for (const auto& c : job.currencies)
    if (c.black_karasinski)
      o.diffusions.push_back(
          std::make_shared<const diffusion_ir_black_karasinski>(job.dates, c.today.curve, c.black_karasinski));
    else
      o.diffusions.push_back(std::make_shared<const diffusion_ir_markovian_hjm>(job.dates, c.today.curve, c.parameters));
  o.first_fx = o.diffusions.size();
  for (const auto& x : job.fx)
    o.diffusions.push_back(std::make_shared<const bound_to_curves<diffusion_fx_lognormal>>(
        std::vector<std::size_t>{0, x.currency}, job.dates, std::make_shared<const fx_spot>(today, x.spot), curve(0),
        curve(x.currency), flat_lognormal(x.volatility, today)));
  o.first_equity = o.diffusions.size();
  for (const auto& e : job.equities)
    o.diffusions.push_back(std::make_shared<const bound_to_curves<diffusion_equity_lognormal>>(
        std::vector<std::size_t>{e.currency}, job.dates, e.spot, curve(e.currency), flat_lognormal(e.volatility, today)));
  o.first_credit = o.diffusions.size();
  const std::vector<datetime> d{today};
  for (const auto& c : job.credits) {
    const auto& curve = c.curve;
    o.credit_curves.push_back(curve);
    if (c.model == "black_karasinski") {
      o.diffusions.push_back(std::make_shared<const diffusion_credit_black_karasinski>(job.dates, curve, c.black_karasinski));
      continue;
    }
    if (c.model == "cir") {
      o.diffusions.push_back(std::make_shared<const diffusion_credit_extended_cir>(
          job.dates, curve,
          std::make_shared<const parameter_extended_cir>(
              matrix<double>(1, 1, c.mean_reversion), matrix<double>(1, 1, c.volatility), matrix<double>(1, 1, 0.0),
              matrix<double>(1, 1, 1.0), d, d, d, nullptr, matrix<double>(1, 1, c.long_term_level),
              std::vector<double>{c.initial_value})));
    } else {
      o.diffusions.push_back(std::make_shared<const diffusion_credit_markovian_hjm>(
          job.dates, curve,
          std::make_shared<const parameter_markovian_hjm>(matrix<double>(1, 1, c.mean_reversion),
                                                          matrix<double>(1, 1, c.volatility), matrix<double>(1, 1, 1.0),
                                                          d, d, nullptr, parameter_markovian_hjm_type::mean_reversion)));
    }
  }
  // The run is under the domestic measure: every diffusion of a foreign currency (its
  // rates, equities, credits) takes the quanto drift of its currency's FX rate.
  std::vector<foreign_diffusion> foreign;
  const auto fx_of = [&](std::size_t c) { return o.first_fx + job.currencies[c].fx; };
  for (std::size_t c = 1; c < job.currencies.size(); ++c) foreign.push_back({c, fx_of(c)});
  for (std::size_t e = 0; e < job.equities.size(); ++e)
    if (job.equities[e].currency != 0) foreign.push_back({o.first_equity + e, fx_of(job.equities[e].currency)});
  for (std::size_t q = 0; q < job.credits.size(); ++q)
    if (job.credits[q].currency != 0) foreign.push_back({o.first_credit + q, fx_of(job.credits[q].currency)});
  o.measures = domestic_measure_changes(o.diffusions, job.correlation, foreign);
  return o;
}

void add_sums(const vector<double>& x, double& sum, double& sum2) {
  for (std::size_t p = 0; p < x.size(); ++p) sum += x[p], sum2 += x[p] * x[p];
}

std::string number(double x, const char* format = "%.10g") {
  if (std::isnan(x)) return "";
  char text[40];
  std::snprintf(text, sizeof text, format, x);
  return text;
}

}  // namespace

cross_asset_result run_cross_asset(const cross_asset_job& job) {
  const auto start = std::chrono::steady_clock::now();
  const run_objects o = build(job);
  const std::size_t P = job.paths_per_batch, B = job.batches, D = job.dates.size() - 1, N = P * B;
  const datetime today = job.valuation_date;
  std::vector<datetime> maturities;
  for (const auto& t : job.bond_maturities) maturities.push_back(datetime_helper::add_tenor(today, t, 1));

  cross_asset_result r;
  r.paths = N;
  r.dates.assign(job.dates.begin() + 1, job.dates.end());
  const auto& dom = job.currencies[0];
  const std::size_t K = job.currencies.size();
  const auto fx_of = [&](std::size_t c) -> const cross_asset_spot& { return job.fx[job.currencies[c].fx]; };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // The checks, in order: domestic bonds, each foreign currency's bonds converted, FX
  // forwards, equity forwards, survival probabilities (foreign ones in domestic units).
  const std::string in_domestic = " in " + dom.name;
  for (std::size_t m = 0; m < maturities.size(); ++m)
    r.check_names.push_back(dom.name + " bond " + job.bond_maturities[m].to_string()), r.check_classes.push_back("domestic bond");
  for (std::size_t c = 1; c < K; ++c)
    for (std::size_t m = 0; m < maturities.size(); ++m)
      r.check_names.push_back(job.currencies[c].name + " bond " + job.bond_maturities[m].to_string() + in_domestic),
          r.check_classes.push_back("foreign bond");
  for (const auto& x : job.fx) r.check_names.push_back(x.name + " forward"), r.check_classes.push_back("fx forward");
  for (const auto& e : job.equities)
    r.check_names.push_back(e.name + " forward" + (e.currency ? in_domestic : "")), r.check_classes.push_back("equity forward");
  for (const auto& c : job.credits) r.check_names.push_back(c.name + " survival"), r.check_classes.push_back("survival");
  for (const auto& x : job.fx) r.asset_names.push_back(x.name);
  for (const auto& e : job.equities) r.asset_names.push_back(e.name);
  for (const auto& c : job.credits) r.asset_names.push_back(c.name + " survival");
  for (const auto& c : job.credits) r.asset_names.push_back(c.name + " hazard rate");
  const std::size_t C = r.check_names.size(), A = r.asset_names.size();
  r.quantile_capacity = quantile_capacity(N, A * D, 0);

  r.target.assign(C, std::vector<double>(D, nan));
  // Black–Karasinski factors are checked on their curve's pillars only (see the job).
  const auto on = [](const std::vector<datetime>& pillars, const datetime& t) {
    return std::find(pillars.begin(), pillars.end(), t) != pillars.end();
  };
  for (std::size_t k = 0; k < D; ++k) {
    const datetime& t = r.dates[k];
    std::size_t c = 0;
    const bool rate_check = !dom.black_karasinski || on(dom.today.curve->dates(), t);
    for (const auto& T : maturities) r.target[c++][k] = T < t || !rate_check ? nan : dom.today.curve->df(T);
    for (std::size_t f = 1; f < K; ++f)
      for (const auto& T : maturities)
        r.target[c++][k] = T < t ? nan : fx_of(f).spot * job.currencies[f].today.curve->df(T);
    for (const auto& x : job.fx) r.target[c++][k] = x.spot * job.currencies[x.currency].today.curve->df(t);
    for (const auto& e : job.equities) r.target[c++][k] = e.currency ? fx_of(e.currency).spot * e.spot : e.spot;
    for (std::size_t q = 0; q < job.credits.size(); ++q, ++c)
      r.target[c][k] = job.credits[q].black_karasinski && !on(job.credits[q].pillars, t)
                           ? nan
                           : o.credit_curves[q]->survival_probability(today, t);
  }

  std::vector<std::vector<double>> sum(B, std::vector<double>(C * D, 0.0)), sum2 = sum;
  // One quantile summary per (asset, date); the batches' summaries and sums are folded
  // in batch order, so memory does not grow with paths x dates.
  std::vector<quantile_summary> summaries(A * D, quantile_summary(r.quantile_capacity));
  std::vector<std::vector<double>> asset_sum(B);  // [batch][asset * D + date]
  batch_fold<std::vector<quantile_summary>> fold([&](std::size_t, std::vector<quantile_summary>&& batch) {
    for (std::size_t i = 0; i < A * D; ++i) summaries[i].merge(batch[i]);
  });
  const std::size_t F = job.correlation.rows();
  smp_tools_api::GetInstance().parallel_for(0, B, 1, [&](std::size_t first, std::size_t last) {
    vector<double> n(P), v(P), lp(P), nf(P);
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t b = fold.claim();
      std::vector<quantile_summary> batch(A * D, quantile_summary(r.quantile_capacity));
      asset_sum[b].assign(A * D, 0.0);
      auto config = std::make_shared<const random_config>(job.generator, job.seed, P, job.dates.size(), F, b, false,
                                                          false, job.generator, device_type::cpu);
      auto diffusions = o.diffusions;
      auto measures = o.measures;
      simulation_manager manager(std::move(diffusions), std::move(measures), job.correlation, config, job.dates);
      manager.states_initialize();
      std::vector<std::shared_ptr<const discount_curve>> curves;
      for (std::size_t f = 0; f < K; ++f) curves.push_back(diffusion::diffusion_discount_curve(manager.data(f)));
      const auto& domestic = curves[0];
      for (std::size_t k = 1; k <= D; ++k) {
        manager.propagate(k);
        const datetime& t = job.dates[k];
        domestic->discounting(n, t);
        // Views of this step's FX rates, [pair][path].
        std::vector<vector<double>> X;
        for (std::size_t i = 0; i < job.fx.size(); ++i)
          X.push_back(diffusion::diffusion_fx_spot(manager.data(o.first_fx + i))->spots());
        const auto X_of = [&](std::size_t f) -> const vector<double>& { return X[job.currencies[f].fx]; };
        std::size_t c = 0, a = 0;
        const auto add = [&](const vector<double>& x) { add_sums(x, sum[b][c * D + k - 1], sum2[b][c * D + k - 1]); ++c; };
        const auto keep = [&](const vector<double>& x) {
          batch[a * D + k - 1].add(x.data(), P);
          for (std::size_t p = 0; p < P; ++p) asset_sum[b][a * D + k - 1] += x[p];
          ++a;
        };
        for (std::size_t m = 0; m < maturities.size(); ++m) {
          const datetime& T = maturities[m];
          if (std::isnan(r.target[c][k - 1])) { ++c; continue; }
          domestic->log_df(lp, t, T);
          v = n * exp(lp);
          add(v);
        }
        for (std::size_t f = 1; f < K; ++f)
          for (const auto& T : maturities) {
            if (T < t) { ++c; continue; }
            curves[f]->log_df(lp, t, T);
            v = n * X_of(f) * exp(lp);
            add(v);
          }
        for (std::size_t i = 0; i < job.fx.size(); ++i) {
          v = n * X[i];
          add(v);
        }
        for (std::size_t e = 0; e < job.equities.size(); ++e) {
          const std::size_t f = job.equities[e].currency;
          const vector<double> S = diffusion::diffusion_equity_spot(manager.data(o.first_equity + e))->spots();
          if (f == 0)
            v = n * S;
          else
            v = n * X_of(f) * S;
          add(v);
        }
        for (std::size_t q = 0; q < job.credits.size(); ++q) {
          const std::size_t f = job.credits[q].currency;
          diffusion::diffusion_survival_curve(manager.data(o.first_credit + q))->survival_probability(v, t);
          // A foreign credit's survival is a martingale under its own currency's measure:
          // weigh it by that measure's density, D(0,t) X(t) / (X(0) D_f(0,t)).
          if (f != 0) {
            curves[f]->discounting(nf, t);
            v = v * n * X_of(f) / (fx_of(f).spot * nf);
          }
          add(v);
        }
        for (std::size_t i = 0; i < job.fx.size(); ++i) keep(X[i]);
        for (std::size_t e = 0; e < job.equities.size(); ++e)
          keep(diffusion::diffusion_equity_spot(manager.data(o.first_equity + e))->spots());
        for (std::size_t q = 0; q < job.credits.size(); ++q) {
          diffusion::diffusion_survival_curve(manager.data(o.first_credit + q))->survival_probability(v, t);
          keep(v);
        }
        // The hazard rate over the next day, -ln Q(t, t + 1 day) per year of 365 days:
        // the intensity at t to within a day's drift, from any credit model alike.
        const datetime next = datetime_helper::add_tenor(t, tenor("1D"), 1);
        for (std::size_t q = 0; q < job.credits.size(); ++q) {
          diffusion::diffusion_survival_curve(manager.data(o.first_credit + q))->log_survival_probability(lp, t, next);
          for (std::size_t p = 0; p < P; ++p) v[p] = -365.0 * lp[p];
          keep(v);
        }
      }
      fold.done(b, std::move(batch));
    }
  });

  const double total = double(N);
  r.mean.assign(C, std::vector<double>(D, nan));
  r.error = r.mean;
  for (std::size_t c = 0; c < C; ++c)
    for (std::size_t k = 0; k < D; ++k) {
      if (std::isnan(r.target[c][k])) continue;
      double s = 0.0, s2 = 0.0;
      for (std::size_t b = 0; b < B; ++b) s += sum[b][c * D + k], s2 += sum2[b][c * D + k];
      const double mean = s / total;
      r.mean[c][k] = mean;
      r.error[c][k] = std::sqrt(std::max(0.0, (s2 - total * mean * mean) / (total - 1.0)) / total);
    }
  r.quantiles.assign(A, std::vector<std::vector<double>>(D));
  r.asset_mean.assign(A, std::vector<double>(D, 0.0));
  r.rank_error.assign(A, std::vector<std::uint64_t>(D, 0));
  smp_tools_api::GetInstance().parallel_for(0, A * D, 1, [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      double s = 0.0;
      for (std::size_t b = 0; b < B; ++b) s += asset_sum[b][i];
      r.asset_mean[i / D][i % D] = s / total;
      r.quantiles[i / D][i % D] = summaries[i].quantiles(job.quantiles);
      r.rank_error[i / D][i % D] = summaries[i].rank_error();
    }
  });
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

namespace {

void write_or_fail(std::ofstream& f, const fs::path& p) {
  f.close();
  if (!f) throw input_error(p.string() + ": cannot write");
}

// One fan chart per asset from quantiles.csv (rows grouped by asset, then date).
bool draw_fans(const fs::path& folder, const cross_asset_job& job, const cross_asset_result& r, std::ostream& log) {
  const std::size_t D = r.dates.size(), Q = job.quantiles.size();
  const fs::path script = folder / "fans.gp";
  {
    std::ofstream gp(script);
    gp << "# Draws one fan chart per asset from quantiles.csv:\n#   gnuplot fans.gp\n"
          "set terminal pngcairo size 1000,420 font 'sans,10'\nset datafile separator ','\n"
          "set xdata time\nset timefmt '%Y-%m-%d'\nset format x '%Y'\nset grid\nset key top left\n";
    for (std::size_t a = 0; a < r.asset_names.size(); ++a) {
      const std::string rows = "every ::" + std::to_string(a * D) + "::" + std::to_string(a * D + D - 1);
      gp << "set output 'fan_" << a + 1 << ".png'\nset title '" << r.asset_names[a] << ": quantiles over " << r.paths
         << " paths'\nplot ";
      bool first = true;
      for (std::size_t i = 0; i < Q / 2; ++i) {
        gp << (first ? "" : ", \\\n     ") << "'quantiles.csv' skip 1 " << rows << " using 2:" << 4 + i << ":"
           << 4 + Q - 1 - i << " with filledcurves fs transparent solid 0.25 lc rgb '#1f77b4' title '"
           << job.quantiles[i] * 100 << "%-" << job.quantiles[Q - 1 - i] * 100 << "%'";
        first = false;
      }
      gp << (first ? "" : ", \\\n     ") << "'quantiles.csv' skip 1 " << rows
         << " using 2:3 with lines lw 2 lc rgb 'black' title 'mean'\n";
    }
  }
  if (!gnuplot_available()) {
    log << "tarvex: gnuplot not found; fans.gp written, no PNG drawn\n";
    return false;
  }
  const std::string command = "cd '" + folder.string() + "' && gnuplot fans.gp >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

cross_asset_result simulate_cross_asset(const cross_asset_job& job, const fs::path& output, bool plot,
                                        std::ostream& out) {
  output_folder folder(output);
  const cross_asset_result r = run_cross_asset(job);
  const std::size_t D = r.dates.size();
  std::vector<double> worst(r.check_names.size(), 0.0);
  {
    const fs::path p = folder.file("martingale.csv");
    std::ofstream f(p);
    f << "check,class,date,target,mc,se,z\n";
    for (std::size_t c = 0; c < r.check_names.size(); ++c)
      for (std::size_t k = 0; k < D; ++k) {
        const double z = (r.mean[c][k] - r.target[c][k]) / r.error[c][k];
        if (std::fabs(z) > std::fabs(worst[c])) worst[c] = z;
        f << r.check_names[c] << ',' << r.check_classes[c] << ',' << r.dates[k].to_string() << ','
          << number(r.target[c][k]) << ',' << number(r.mean[c][k]) << ',' << number(r.error[c][k], "%.6g") << ','
          << number(z, "%.4f") << '\n';
      }
    write_or_fail(f, p);
  }
  {
    const fs::path p = folder.file("quantiles.csv");
    std::ofstream f(p);
    f << "asset,date,mean";
    for (double q : job.quantiles) f << ",q" << number(q, "%g");
    f << ",rank_error,method\n";
    const std::string tag = quantile_method_tag(r.paths, r.quantile_capacity);
    for (std::size_t a = 0; a < r.asset_names.size(); ++a)
      for (std::size_t k = 0; k < D; ++k) {
        f << r.asset_names[a] << ',' << r.dates[k].to_string() << ',' << number(r.asset_mean[a][k]);
        for (double v : r.quantiles[a][k]) f << ',' << number(v);
        f << ',' << r.rank_error[a][k] << ',' << tag << '\n';
      }
    write_or_fail(f, p);
  }
  {
    const fs::path p = folder.file("summary.json");
    std::ofstream f(p);
    json s;
    s["job"] = job.file;
    s["valuation_date"] = job.valuation_date.to_string();
    s["generator"] = generator_name(job.generator);
    s["seed"] = job.seed;
    s["paths"] = r.paths;
    s["simulation_dates"] = D;
    s["factors"] = job.factor_names;
    for (std::size_t c = 0; c < r.check_names.size(); ++c) s["largest_martingale_z"][r.check_names[c]] = worst[c];
    s["standard_error"] = standard_error_kind(job.generator);
    s["quantile_method"] = quantile_method(r.paths, r.quantile_capacity);
    std::uint64_t rank_error = 0;
    for (const auto& e : r.rank_error)
      for (std::uint64_t x : e) rank_error = std::max(rank_error, x);
    s["quantile_rank_error"] = rank_error;
    f << s.dump(2) << '\n';
    write_or_fail(f, p);
  }
  const bool drawn = plot && draw_fans(folder.file(""), job, r, out);

  char line[200];
  std::snprintf(line, sizeof line, "simulated %zu paths (%zu batches of %zu, %s, seed %zu), %zu factors, %zu dates in %.2f s\n",
                r.paths, job.batches, job.paths_per_batch, generator_name(job.generator).c_str(), job.seed,
                job.factor_names.size(), D, r.seconds);
  out << line << "\nmartingale checks under the " << job.currencies[0].name
      << " money-market measure (largest deviation over the dates, in standard errors):\n";
  bool all = true;
  for (std::size_t c = 0; c < r.check_names.size(); ++c) {
    std::snprintf(line, sizeof line, "  %-16s %-32s %+6.2f\n", r.check_classes[c].c_str(), r.check_names[c].c_str(),
                  worst[c]);
    out << line;
    all = all && std::fabs(worst[c]) < 4.0;
  }
  out << (all ? "every check within 4 standard errors on every date\n" : "SOME CHECK OUTSIDE 4 standard errors\n");
  if (quasi_random(job.generator))
    out << "note: the points are quasi-random; these are sample standard errors, which do not bound the error of "
           "a quasi-random estimate\n";
  out << "\nat " << r.dates.back().to_string() << ":\n";
  for (std::size_t a = 0; a < r.asset_names.size(); ++a) {
    out << "  " << r.asset_names[a] << ": mean " << number(r.asset_mean[a].back(), "%.6g");
    for (std::size_t q = 0; q < job.quantiles.size(); ++q)
      out << ", q" << number(job.quantiles[q], "%g") << " " << number(r.quantiles[a].back()[q], "%.6g");
    out << '\n';
  }
  folder.commit();
  out << "results written to " << output.string() << (drawn ? " (CSV and PNG)" : " (CSV)") << '\n';
  return r;
}

}  // namespace tarvex::app
