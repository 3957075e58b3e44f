#include "cross_asset_job.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "Market/interpolated_survival_curve.h"
#include "Util/datetime_helper.h"
#include "bk_calibration.h"
#include "credit_market_file.h"
#include "input_error.h"
#include "library_file.h"
#include "simulation_job.h"

namespace tarvex::app {
namespace {

std::string relative_to(const std::string& job_file, const std::string& name) {
  const std::filesystem::path p(name);
  if (p.is_absolute()) return name;
  return (std::filesystem::path(job_file).parent_path() / p).string();
}

std::vector<datetime> read_dates(const json_node& node, const datetime& today) {
  std::vector<datetime> dates{today};
  if (node.value().is_array()) {
    for (const auto& d : node.ascending_dates()) dates.push_back(d);
    if (dates.size() < 2) node.fail("at least one simulation date");
    if (!(today < dates[1])) node.at(std::size_t{0}).fail("a date after the valuation date");
    return dates;
  }
  const json_node step_node = node.at("step"), horizon_node = node.at("horizon");
  const tenor step = step_node.period(), horizon = horizon_node.period();
  if (step.count() < 1) step_node.fail("a positive step");
  const datetime end = datetime_helper::add_tenor(today, horizon, 1);
  if (!(today < end)) horizon_node.fail("a positive horizon");
  for (int k = 1;; ++k) {
    const datetime d = datetime_helper::add_tenor(today, tenor(k * step.count(), step.units()), 1);
    if (end < d) break;
    dates.push_back(d);
    if (dates.size() > 100000) step_node.fail("a step giving at most 100000 dates");
  }
  if (dates.back() < end) dates.push_back(end);
  return dates;
}

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

cross_asset_spot read_spot(const json_node& node) {
  cross_asset_spot s;
  s.name = node.at("name").text();
  s.spot = node.at("spot").positive_number();
  s.volatility = node.at("volatility").non_negative_number();
  return s;
}

}  // namespace

bool is_cross_asset_job(const std::string& file) {
  const json_node root = json_node::load(file);
  return root.has("currencies");
}

matrix<double> read_named_correlation(const json_node& node, const std::vector<std::string>& names) {
  const std::size_t n = names.size();
  const json_node factors = node.at("factors"), values = node.at("matrix");
  if (factors.size() != n) factors.fail("the " + std::to_string(n) + " factors of the job, each once");
  std::vector<std::size_t> position(n, n);  // job order -> matrix row
  for (std::size_t i = 0; i < n; ++i) {
    const json_node f = factors.at(i);
    const auto it = std::find(names.begin(), names.end(), f.text());
    if (it == names.end()) f.fail("one of the job's factors");
    const std::size_t k = std::size_t(it - names.begin());
    if (position[k] != n) f.fail("each factor once");
    position[k] = i;
  }
  const auto rows = values.number_table();
  if (rows.size() != n || rows[0].size() != n)
    values.fail("a " + std::to_string(n) + " x " + std::to_string(n) + " matrix in the order of \"factors\"");
  const auto bad = [&](const std::string& what) -> void {
    throw input_error(values.file() + ": " + values.path() + ": " + what);
  };
  const auto name_of_row = [&](std::size_t row) { return in_quotes(factors.at(row).text()); };
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double v = rows[i][j];
      if (i == j && v != 1.0)
        bad("entry (" + name_of_row(i) + ", " + name_of_row(i) + ") is " + std::to_string(v) +
            ": expected 1 on the diagonal");
      if (i != j && !(std::fabs(v) < 1.0))
        bad("entry (" + name_of_row(i) + ", " + name_of_row(j) + ") is " + std::to_string(v) +
            ": expected a correlation strictly between -1 and 1");
      if (v != rows[j][i])
        bad("entries (" + name_of_row(i) + ", " + name_of_row(j) + ") = " + std::to_string(v) + " and (" +
            name_of_row(j) + ", " + name_of_row(i) + ") = " + std::to_string(rows[j][i]) +
            " differ: expected a symmetric matrix");
    }
  matrix<double> c(n, n);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) c(a, b) = rows[position[a]][position[b]];
  // Cholesky in the job's order: a pivot that vanishes names its factor and the earlier
  // factor it is most correlated with.
  std::vector<double> l(n * n, 0.0);
  for (std::size_t j = 0; j < n; ++j) {
    double d = c(j, j);
    for (std::size_t k = 0; k < j; ++k) d -= l[j * n + k] * l[j * n + k];
    if (!(d > 1e-12)) {
      std::size_t other = 0;
      for (std::size_t k = 1; k < j; ++k)
        if (std::fabs(c(j, k)) > std::fabs(c(j, other))) other = k;
      bad("not positive definite: factor " + in_quotes(names[j]) +
          " is a combination of the factors before it (largest entry (" + in_quotes(names[other]) + ", " +
          in_quotes(names[j]) + ") = " + std::to_string(c(j, other)) + ")");
    }
    l[j * n + j] = std::sqrt(d);
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = c(i, j);
      for (std::size_t k = 0; k < j; ++k) s -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = s / l[j * n + j];
    }
  }
  return c;
}

cross_asset_job read_cross_asset_job(const std::string& file) {
  const json_node root = json_node::load(file);
  cross_asset_job job;
  job.file = file;
  const json_node date_node = root.at("valuation_date");
  job.valuation_date = date_node.date();
  job.dates = read_dates(root.at("simulation_dates"), job.valuation_date);

  const json_node currencies = root.at("currencies");
  if (currencies.size() < 1) currencies.fail("at least one currency (the domestic one first)");
  for (std::size_t i = 0; i < currencies.size(); ++i) {
    const json_node c = currencies.at(i);
    cross_asset_currency cur;
    const json_node name = c.at("name");
    cur.name = name.text();
    for (const auto& earlier : job.currencies)
      if (earlier.name == cur.name) name.fail("a currency not listed before");
    cur.today = read_market(relative_to(file, c.at("market").text()));
    if (!(cur.today.valuation_date == job.valuation_date))
      c.at("market").fail("a market valued on " + job.valuation_date.to_string());
    const std::string model = c.has("model") ? c.at("model").text() : "hjm";
    if (model == "black_karasinski") {
      const bk_settings s = read_bk_settings(relative_to(file, c.at("settings").text()), false);
      cur.black_karasinski =
          bootstrap_bk_levels(s, job.valuation_date, cur.today.curve->dates(), nullptr, cur.today.curve);
    } else if (model == "hjm") {
      cur.parameters = read_library_file<parameter_markovian_hjm>(relative_to(file, c.at("parameters").text()),
                                                                  "Markovian HJM parameters");
    } else {
      c.at("model").fail("\"hjm\" or \"black_karasinski\"");
    }
    job.currencies.push_back(std::move(cur));
  }
  // A currency named in "fx", "equities" or "credits": its index (the domestic one
  // when absent), refused when no curve is listed for it.
  const auto currency_of = [&](const json_node& node, bool foreign) -> std::size_t {
    const std::size_t first = foreign ? 1 : 0;
    const std::string name = node.text();
    for (std::size_t c = first; c < job.currencies.size(); ++c)
      if (job.currencies[c].name == name) return c;
    std::string listed;
    for (std::size_t c = first; c < job.currencies.size(); ++c)
      listed += (listed.empty() ? "" : ", ") + in_quotes(job.currencies[c].name);
    node.fail(listed.empty() ? std::string("one of the foreign currencies (the job lists none)")
                             : (foreign ? "one of the foreign currencies " : "one of the currencies ") + listed);
  };

  if (root.has("fx") || job.currencies.size() > 1) {
    const json_node fx = root.at("fx");
    std::vector<bool> paired(job.currencies.size(), false);
    for (std::size_t i = 0; i < fx.size(); ++i) {
      const json_node foreign = fx.at(i).at("foreign");
      cross_asset_spot x = read_spot(fx.at(i));
      x.currency = currency_of(foreign, true);
      if (paired[x.currency]) foreign.fail("a currency without an earlier FX pair");
      paired[x.currency] = true;
      job.currencies[x.currency].fx = i;
      job.fx.push_back(x);
    }
    for (std::size_t c = 1; c < job.currencies.size(); ++c)
      if (!paired[c]) currencies.at(c).at("name").fail("a currency with an FX pair in \"fx\"");
  }
  if (root.has("equities")) {
    const json_node e = root.at("equities");
    for (std::size_t i = 0; i < e.size(); ++i) {
      job.equities.push_back(read_spot(e.at(i)));
      if (e.at(i).has("currency")) job.equities.back().currency = currency_of(e.at(i).at("currency"), false);
    }
  }
  if (root.has("credits")) {
    const json_node cr = root.at("credits");
    for (std::size_t i = 0; i < cr.size(); ++i) {
      const json_node c = cr.at(i);
      cross_asset_credit k;
      k.name = c.at("name").text();
      if (c.has("currency")) k.currency = currency_of(c.at("currency"), false);
      const json_node model = c.at("model");
      k.model = model.text();
      if (k.model == "black_karasinski") {
        const json_node market_node = c.at("market");
        const credit_market m = read_credit_market(relative_to(file, market_node.text()));
        if (!(m.valuation_date == job.valuation_date))
          market_node.fail("a credit market valued on " + job.valuation_date.to_string());
        const bk_settings s = read_bk_settings(relative_to(file, c.at("settings").text()), false);
        if (std::none_of(m.pillars.begin(), m.pillars.end(), [&](const datetime& d) {
              return std::find(job.dates.begin(), job.dates.end(), d) != job.dates.end();
            }))
          market_node.fail("a credit curve with a pillar on a simulation date, where its check runs");
        k.curve = m.curve;
        k.pillars = m.pillars;
        k.black_karasinski = bootstrap_bk_levels(s, job.valuation_date, m.pillars, m.curve, nullptr);
        job.credits.push_back(k);
        continue;
      }
      k.hazard_rate = c.at("hazard_rate").non_negative_number();
      k.mean_reversion = c.at("mean_reversion").non_negative_number();
      k.volatility = c.at("volatility").non_negative_number();
      if (k.model == "cir") {
        k.long_term_level = c.at("long_term_level").non_negative_number();
        k.initial_value = c.at("initial_value").non_negative_number();
      } else if (k.model != "hjm") {
        model.fail("\"hjm\", \"cir\" or \"black_karasinski\"");
      }
      k.curve = std::make_shared<const interpolated_survival_curve>(
          job.valuation_date, std::vector<datetime>{datetime_helper::add_tenor(job.valuation_date, tenor("100Y"), 1)},
          std::vector<double>{k.hazard_rate});
      job.credits.push_back(k);
    }
  }

  // Names and the default correlation in simulation order.
  std::vector<std::size_t> block_start;
  for (const auto& c : job.currencies) {
    block_start.push_back(job.factor_names.size());
    for (std::size_t f = 0; f < c.number_of_factors(); ++f)
      job.factor_names.push_back(c.name + " " + std::to_string(f + 1));
  }
  for (const auto* list : {&job.fx, &job.equities})
    for (const auto& s : *list) job.factor_names.push_back(s.name);
  for (const auto& c : job.credits) job.factor_names.push_back(c.name);
  for (std::size_t i = 0; i < job.factor_names.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (job.factor_names[i] == job.factor_names[j])
        root.fail("distinct names for every currency factor, FX rate, equity and credit (" +
                  in_quotes(job.factor_names[i]) + " twice)");
  const std::size_t n = job.factor_names.size();
  if (root.has("correlation")) {
    job.correlation = read_named_correlation(root.at("correlation"), job.factor_names);
    // The HJM steps assume their own factor correlation: the job must not contradict it.
    for (std::size_t c = 0; c < job.currencies.size(); ++c) {
      if (!job.currencies[c].parameters) continue;
      const auto& rho = job.currencies[c].parameters->correlation();
      for (std::size_t i = 0; i < rho.rows(); ++i)
        for (std::size_t j = 0; j < i; ++j)
          if (std::fabs(job.correlation(block_start[c] + i, block_start[c] + j) - rho(i, j)) > 1e-12)
            throw input_error(file + ": $.correlation.matrix: entry (" + in_quotes(job.factor_names[block_start[c] + i]) +
                              ", " + in_quotes(job.factor_names[block_start[c] + j]) + ") = " +
                              std::to_string(job.correlation(block_start[c] + i, block_start[c] + j)) +
                              ": expected the currency's parameter correlation " + std::to_string(rho(i, j)));
    }
  } else {
    job.correlation = matrix<double>(n, n, 0.0);
    for (std::size_t i = 0; i < n; ++i) job.correlation(i, i) = 1.0;
    for (std::size_t c = 0; c < job.currencies.size(); ++c) {
      if (!job.currencies[c].parameters) continue;
      const auto& rho = job.currencies[c].parameters->correlation();
      for (std::size_t i = 0; i < rho.rows(); ++i)
        for (std::size_t j = 0; j < rho.columns(); ++j) job.correlation(block_start[c] + i, block_start[c] + j) = rho(i, j);
    }
  }

  const json_node random = root.at("random");
  if (random.has("generator")) job.generator = read_generator(random.at("generator"));
  if (random.has("seed")) {
    const json_node seed = random.at("seed");
    if (seed.integer() < 0) seed.fail("a non-negative seed");
    job.seed = static_cast<std::size_t>(seed.integer());
  }
  const json_node paths = random.at("paths_per_batch");
  job.paths_per_batch = paths.count();
  if (job.paths_per_batch < 2) paths.fail("at least 2 paths per batch");
  job.batches = random.at("batches").count();

  const json_node outputs = root.at("outputs");
  job.bond_maturities = outputs.at("bond_maturities").periods();
  if (job.bond_maturities.empty()) outputs.at("bond_maturities").fail("at least one bond maturity");
  for (std::size_t c = 1; c < job.currencies.size(); ++c)
    if (job.currencies[c].black_karasinski)
      currencies.at(c).at("model").fail(
          "\"hjm\" in a job with a second currency or equities (Black–Karasinski rates run with credits only)");
  if (job.currencies[0].black_karasinski) {
    const json_node model = currencies.at(std::size_t{0}).at("model");
    if (job.currencies.size() > 1 || !job.equities.empty())
      model.fail("\"hjm\" in a job with a second currency or equities (Black–Karasinski rates run with credits only)");
    const auto& pillars = job.currencies[0].today.curve->dates();
    for (std::size_t i = 0; i < job.bond_maturities.size(); ++i)
      if (std::find(pillars.begin(), pillars.end(),
                    datetime_helper::add_tenor(job.valuation_date, job.bond_maturities[i], 1)) == pillars.end())
        outputs.at("bond_maturities").at(i).fail("a pillar of the Black–Karasinski curve, the only dates its levels fit");
  }
  job.quantiles = {0.05, 0.5, 0.95};
  if (outputs.has("quantiles")) {
    const json_node q = outputs.at("quantiles");
    job.quantiles = q.numbers();
    for (std::size_t i = 0; i < job.quantiles.size(); ++i)
      if (!(job.quantiles[i] >= 0.0 && job.quantiles[i] <= 1.0) || (i > 0 && !(job.quantiles[i - 1] < job.quantiles[i])))
        q.at(i).fail("ascending probabilities between 0 and 1");
  }
  return job;
}

}  // namespace tarvex::app
