#include "simulation_job.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

#include "Util/datetime_helper.h"
#include "correlation_input.h"
#include "input_error.h"
#include "library_file.h"

namespace tarvex::app {
namespace {

const std::pair<const char*, random_type> generators[] = {
    {"philox", random_type::philox},
    {"philox_upfront", random_type::philox_upfront},
    {"threefry", random_type::threefry},
    {"mersenne_twister", random_type::mersenne_twister},
    {"sobol", random_type::sobol},
    {"sobol_brownian_bridge", random_type::sobol_brownian_bridge},
};

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
  if (!node.value().is_object()) node.fail("a list of dates or {\"step\": …, \"horizon\": …}");
  const json_node step_node = node.at("step"), horizon_node = node.at("horizon");
  const tenor step = step_node.period(), horizon = horizon_node.period();
  if (step.count() < 1) step_node.fail("a positive step");
  // Beyond this the dates leave the calendar, and step multiples the range of a count.
  constexpr int max_horizon_years = 1000;
  const double unit_days[] = {1.0, 7.0, 365.25 / 12, 365.25};
  const auto too_long = [&](const tenor& t) {
    return t.count() * unit_days[static_cast<int>(t.units())] > max_horizon_years * 365.25;
  };
  if (too_long(step)) step_node.fail("a step of at most " + std::to_string(max_horizon_years) + " years");
  if (too_long(horizon)) horizon_node.fail("a horizon of at most " + std::to_string(max_horizon_years) + " years");
  const datetime end = datetime_helper::add_tenor(today, horizon, 1);
  if (!(today < end)) horizon_node.fail("a positive horizon");
  // Each date is counted from today (not from the previous date) so month ends do not drift.
  for (long long k = 1;; ++k) {
    const long long count = k * step.count();  // below 2^31 while dates stay before `end`
    if (count > std::numeric_limits<int>::max()) break;
    const datetime d = datetime_helper::add_tenor(today, tenor(static_cast<int>(count), step.units()), 1);
    if (end < d) break;
    dates.push_back(d);
    if (dates.size() > 100000) step_node.fail("a step giving at most 100000 dates");
  }
  if (dates.back() < end) dates.push_back(end);
  return dates;
}

// Row r of a parameter set governs (d_{r-1}, d_r], the first row everything before and
// the last row everything after. A set dated wholly before the valuation date (another
// valuation's calibration) or wholly after the last simulation date (another grid)
// would simulate every date on one extrapolated row: taken for a mismatch of files.
void check_parameter_dates(const json_node& node, const parameter_markovian_hjm& p,
                           const std::vector<datetime>& dates) {
  std::vector<datetime> ends;  // each list is strictly ascending
  for (const auto* list : {&p.decays_dates(), &p.volatilities_dates()})
    if (!list->empty()) ends.insert(ends.end(), {list->front(), list->back()});
  if (ends.empty()) return;
  const auto [first, last] = std::minmax_element(ends.begin(), ends.end());
  if (*last < dates.front() || dates.back() < *first)
    throw input_error(node.file() + ": " + node.path() +
                      ": expected a parameter set whose dates overlap the simulation (" + dates.front().to_string() +
                      " to " + dates.back().to_string() + "), got \"" + node.text() + "\" with dates from " +
                      first->to_string() + " to " + last->to_string());
}

}  // namespace

random_type read_generator(const json_node& node) {
  const std::string name = node.text();
  for (const auto& [text, type] : generators)
    if (name == text) return type;
  node.fail("a generator (\"philox\", \"philox_upfront\", \"threefry\", \"mersenne_twister\", \"sobol\" or "
            "\"sobol_brownian_bridge\")");
}

std::string generator_name(random_type type) {
  for (const auto& [text, t] : generators)
    if (t == type) return text;
  return "unknown";
}

bool quasi_random(random_type type) {
  return type == random_type::sobol || type == random_type::sobol_brownian_bridge;
}

std::string standard_error_kind(random_type type) {
  return quasi_random(type) ? "sample standard error over the paths; the points are quasi-random (Sobol), so it does "
                              "not bound the estimate's error"
                            : "sample standard error over the paths";
}

simulation_job read_simulation_job(const std::string& file) {
  const json_node root = json_node::load(file);
  simulation_job job;
  job.file = file;
  const json_node date_node = root.at("valuation_date");
  const datetime today = date_node.date();
  job.today = read_market(relative_to(file, root.at("market").text()));
  if (!(job.today.valuation_date == today))
    date_node.fail("the market's valuation date " + job.today.valuation_date.to_string());
  try {
    job.dates = read_dates(root.at("simulation_dates"), today);
  } catch (const input_error&) {
    throw;
  } catch (const std::exception& e) {  // a date the library's calendar refuses
    throw input_error(file + ": $.simulation_dates: " + e.what());
  }

  const json_node factors = root.at("risk_factors");
  if (factors.size() == 0) factors.fail("at least one risk factor");
  std::size_t total = 0;
  for (std::size_t i = 0; i < factors.size(); ++i) {
    const json_node f = factors.at(i);
    const json_node model = f.at("model");
    if (model.text() != "hjm" && model.text() != "cheyette") model.fail("\"hjm\" or \"cheyette\"");
    risk_factor r;
    r.name = f.has("name") ? f.at("name").text() : "rates " + std::to_string(i + 1);
    const json_node parameters = f.at("parameters");
    if (model.text() == "cheyette") {
      r.cheyette = read_library_file<parameter_cheyette>(relative_to(file, parameters.text()), "Cheyette parameters");
      r.parameters = r.cheyette->parameters();
    } else {
      r.parameters =
          read_library_file<parameter_markovian_hjm>(relative_to(file, parameters.text()), "Markovian HJM parameters");
    }
    check_parameter_dates(parameters, *r.parameters, job.dates);
    total += r.parameters->number_of_factors();
    job.factors.push_back(std::move(r));
  }
  if (job.factors.size() > 1)
    factors.fail("one risk factor: the simulated rates are today's single curve");

  job.correlation = matrix<double>(total, total, 0.0);
  if (root.has("correlation")) {
    job.correlation = read_correlation_matrix(root.at("correlation"), total);
  } else {
    std::size_t offset = 0;
    for (const auto& r : job.factors) {
      const auto& rho = r.parameters->correlation();
      for (std::size_t i = 0; i < rho.rows(); ++i)
        for (std::size_t j = 0; j < rho.columns(); ++j) job.correlation(offset + i, offset + j) = rho(i, j);
      offset += rho.rows();
    }
  }

  const json_node random = root.at("random");
  if (random.has("generator")) job.generator = read_generator(random.at("generator"));
  if (random.has("seed")) {
    const json_node seed = random.at("seed");
    const std::int64_t s = seed.integer();
    if (s < 0) seed.fail("a non-negative seed");
    job.seed = static_cast<std::size_t>(s);
  }
  const json_node paths = random.at("paths_per_batch"), batches = random.at("batches");
  job.paths_per_batch = paths.count();
  job.batches = batches.count();
  if (job.paths_per_batch < 2) paths.fail("at least 2 paths per batch");
  if (job.paths_per_batch > 10000000) paths.fail("at most 10000000 paths per batch");
  if (job.batches > 100000) batches.fail("at most 100000 batches");

  const json_node outputs = root.at("outputs");
  const json_node maturities = outputs.at("bond_maturities");
  job.bond_maturities = maturities.periods();
  if (job.bond_maturities.empty()) maturities.fail("at least one bond maturity");
  job.zero_rate_tenors = {tenor("3M"), tenor("10Y")};
  if (outputs.has("zero_rate_tenors")) {
    const json_node node = outputs.at("zero_rate_tenors");
    job.zero_rate_tenors = node.periods();
    for (std::size_t i = 0; i < job.zero_rate_tenors.size(); ++i)
      if (job.zero_rate_tenors[i].count() < 1) node.at(i).fail("a positive tenor");
  }
  job.quantiles = {0.01, 0.05, 0.5, 0.95, 0.99};
  if (outputs.has("quantiles")) {
    const json_node node = outputs.at("quantiles");
    job.quantiles = node.numbers();
    for (std::size_t i = 0; i < job.quantiles.size(); ++i) {
      const double q = job.quantiles[i];
      if (!(q >= 0.0 && q <= 1.0)) node.at(i).fail("a probability between 0 and 1");
      if (i > 0 && !(job.quantiles[i - 1] < q)) node.at(i).fail("ascending probabilities");
    }
  }
  if (outputs.has("quantile_capacity")) {
    const json_node node = outputs.at("quantile_capacity");
    job.quantile_capacity = node.count();
    if (job.quantile_capacity < 2) node.fail("at least 2 values per level");
  }
  return job;
}

}  // namespace tarvex::app
