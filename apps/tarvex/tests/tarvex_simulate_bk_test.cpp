// The Black–Karasinski job through the executable: Black–Karasinski rates and a
// correlated Black–Karasinski credit, bootstrapped when the job is read, keep today's
// curves on their pillars within 3 standard errors; bad credit inputs exit 2 with one
// line and write nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

std::vector<std::vector<std::string>> csv_rows(const fs::path& p) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(slurp(p));
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream cell(line);
    std::string c;
    while (std::getline(cell, c, ',')) cells.push_back(c);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

// Days between ISO dates, from the standard calendar rather than the library's.
int days(const std::string& from, const std::string& to) {
  const auto parse = [](const std::string& s) {
    using namespace std::chrono;
    return sys_days(year(std::stoi(s.substr(0, 4))) / month(unsigned(std::stoi(s.substr(5, 2)))) /
                    day(unsigned(std::stoi(s.substr(8, 2)))));
  };
  return int((parse(to) - parse(from)).count());
}

class tarvex_simulate_bk : public cli_test {
 protected:
  void SetUp() override {
    cli_test::SetUp();
    fs::create_directories(dir / "credit");
    for (const char* f : {"market.json", "bk_rates_settings.json", "credit/acme.json", "credit/settings.json"})
      fs::copy_file(sample / f, dir / f);
  }

  // The sample job, quarterly and smaller, edited.
  fs::path job(const std::function<void(json&)>& edit) {
    json j = json::parse(slurp(sample / "bk_job.json"));
    j["simulation_dates"] = {{"step", "3M"}, {"horizon", "10Y"}};
    j["random"]["paths_per_batch"] = 4000;
    j["random"]["batches"] = 2;
    edit(j);
    std::ofstream(dir / "job.json") << j.dump(2);
    return dir / "job.json";
  }
  void edit_credit(const std::function<void(json&)>& edit) {
    json c = json::parse(slurp(sample / "credit" / "acme.json"));
    edit(c);
    std::ofstream(dir / "credit" / "acme.json") << c.dump(2);
  }

  outcome simulate(const fs::path& job_file) const {
    return run({"simulate", "--job", job_file.string(), "-o", (dir / "out").string()});
  }
};

TEST_F(tarvex_simulate_bk, checks_hold_on_the_pillars_within_3_standard_errors_and_quantiles_are_ordered) {
  const auto r = simulate(job([](json&) {}));
  ASSERT_EQ(r.status, 0) << r.err;

  // Today's survival from the file's piecewise-flat hazard rates (ACT/365F), computed
  // here: the check's target must be the market curve itself at each pillar.
  const json credit = json::parse(slurp(sample / "credit" / "acme.json"))["credit"];
  std::map<std::string, double> survival;
  double integral = 0.0;
  std::string previous = "2026-12-04";
  for (std::size_t i = 0; i < credit["pillars"].size(); ++i) {
    const std::string p = credit["pillars"][i];
    integral += credit["values"][i].get<double>() * days(previous, p) / 365.0;
    survival[p] = std::exp(-integral);
    previous = p;
  }
  std::size_t survival_checks = 0, bond_checks = 0;
  for (const auto& row : csv_rows(dir / "out" / "martingale.csv")) {
    ASSERT_EQ(row.size(), 7u);
    if (row[3].empty()) continue;  // not a pillar, or a matured bond
    const double target = std::stod(row[3]), mc = std::stod(row[4]), se = std::stod(row[5]);
    EXPECT_LE(std::fabs(mc - target), 3 * se) << row[0] << " " << row[2];
    if (row[1] == "survival") {
      ++survival_checks;
      ASSERT_TRUE(survival.count(row[2])) << row[2];
      EXPECT_NEAR(target, survival[row[2]], 1e-9) << row[2];
    } else {
      ++bond_checks;
    }
  }
  EXPECT_EQ(survival_checks, 6u);           // the pillars 1Y, 2Y, 3Y, 5Y, 7Y, 10Y
  // 5Y, 10Y and 20Y bonds on the rate pillars up to their maturity (3M, 6M, then as above)
  EXPECT_EQ(bond_checks, 6u + 8u + 8u);

  std::map<std::string, std::size_t> rows;
  for (const auto& row : csv_rows(dir / "out" / "quantiles.csv")) {
    ++rows[row[0]];
    std::vector<double> q;
    for (std::size_t i = 3; i + 2 < row.size(); ++i) q.push_back(std::stod(row[i]));
    EXPECT_EQ(row[row.size() - 2] + " " + row.back(), "0 exact") << row[0] << " " << row[1];
    for (std::size_t i = 1; i < q.size(); ++i) EXPECT_LE(q[i - 1], q[i]) << row[0] << " " << row[1];
    EXPECT_GT(q.front(), 0.0) << row[0] << " " << row[1];
    if (row[0] == "ACME survival") {
      EXPECT_LE(q.back(), 1.0) << row[1];
    }
  }
  EXPECT_EQ(rows, (std::map<std::string, std::size_t>{{"ACME hazard rate", 40}, {"ACME survival", 40}}));
  const json summary = json::parse(slurp(dir / "out" / "summary.json"));
  EXPECT_EQ(summary["factors"], (json{"USD 1", "ACME"}));
}

TEST_F(tarvex_simulate_bk, bad_credit_inputs_exit_2_with_one_line_and_no_output) {
  const std::string file = (dir / "credit" / "acme.json").string(), job_file = (dir / "job.json").string();
  const auto survival_quotes = [](json& c) {
    c["credit"]["quote"] = "survival_probability";
    c["credit"]["values"] = {0.99, 0.98, 0.97, 0.95, 0.92, 0.87, 0.79, 0.71, 0.57};
  };
  const struct {
    std::function<void(json&)> credit, job;
    std::string message;
  } cases[] = {
      {[&](json& c) { survival_quotes(c), c["credit"]["values"][1] = 1.2; }, [](json&) {},
       file + ": $.credit.values[1]: expected a survival probability in (0, 1], got 1.2"},
      {[&](json& c) { survival_quotes(c), c["credit"]["values"][2] = 0.985; }, [](json&) {},
       file + ": $.credit.values[2]: expected a survival probability not above the previous pillar's 0.980000, got "
              "0.985"},
      {[](json& c) { c["credit"]["pillars"][0] = "2026-11-30"; }, [](json&) {},
       file + ": $.credit.pillars[0]: expected a date after the valuation date, got \"2026-11-30\""},
      {[](json& c) { c["credit"]["values"][4] = -0.01; }, [](json&) {},
       file + ": $.credit.values[4]: expected a non-negative hazard rate, got -0.01"},
      {[](json& c) { c["valuation_date"] = "2026-01-05"; }, [](json&) {},
       job_file + ": $.credits[0].market: expected a credit market valued on 2026-12-04, got \"credit/acme.json\""},
      {[](json&) {}, [](json& j) { j["outputs"]["bond_maturities"][1] = "4Y"; },
       job_file + ": $.outputs.bond_maturities[1]: expected a pillar of the Black–Karasinski curve, the only dates "
                  "its levels fit, got \"4Y\""},
  };
  for (const auto& c : cases) {
    edit_credit(c.credit);
    const auto r = simulate(job(c.job));
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, "tarvex: error: " + c.message + "\n");
    EXPECT_FALSE(fs::exists(dir / "out")) << c.message;
  }
}

}  // namespace
