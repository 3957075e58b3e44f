// The cross-asset simulate job through the executable: results independent of the
// thread count, martingale checks that hold with two and three currencies, and input
// errors (correlation, currencies) that name the file and the JSON path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

class tarvex_cross_asset : public cli_test {
 protected:
  void SetUp() override {
    cli_test::SetUp();
    for (const char* d : {"eur_negative", "steep"}) fs::create_directories(dir / d);
    for (const char* f : {"market.json", "hjm_parameters.json", "eur_negative/market.json", "steep/market.json"})
      fs::copy_file(sample / f, dir / f);
  }

  // A sample job, smaller, edited.
  fs::path job(const std::function<void(json&)>& edit, const char* sample_job = "cross_asset_job.json") {
    json j = json::parse(slurp(sample / sample_job));
    j["simulation_dates"] = {{"step", "3M"}, {"horizon", "5Y"}};
    j["random"]["paths_per_batch"] = 1000;
    j["random"]["batches"] = 3;
    edit(j);
    std::ofstream(dir / "job.json") << j.dump(2);
    return dir / "job.json";
  }

  outcome simulate(const fs::path& job_file, const std::string& out, const std::string& threads,
                   const std::string& prefix = "") const {
    return run({"simulate", "--job", job_file.string(), "-o", (dir / out).string(), "--threads", threads}, prefix);
  }
};

TEST_F(tarvex_cross_asset, threads_and_instruction_sets_give_the_same_files_and_the_checks_hold) {
  // 3000 paths, 20 dates. Two currencies: 9 checks, bound 4 standard errors for the
  // largest of some 180 z-scores. Three (a foreign equity and credit among them): 15
  // checks, 3 standard errors, which a missing quanto drift on the EUR index exceeds.
  // The run capped to the baseline instruction set (draws, correlation, model loops)
  // writes the same bytes as the one on the CPU's widest set.
  const struct {
    const char* sample;
    std::size_t checks;
    double bound;
  } cases[] = {{"cross_asset_job.json", 9, 4.0}, {"three_currency_job.json", 15, 3.0}};
  for (const auto& c : cases) {
    const auto j = job([](json&) {}, c.sample);
    for (const char* threads : {"1", "2"}) {
      fs::remove_all(dir / (std::string("out") + threads));
      const auto r = simulate(j, std::string("out") + threads, threads);
      ASSERT_EQ(r.status, 0) << c.sample << r.err;
    }
    fs::remove_all(dir / "baseline");
    ASSERT_EQ(simulate(j, "baseline", "1", "TARVEX_SIMD_LEVEL=scalar").status, 0) << c.sample;
    for (const char* f : {"martingale.csv", "quantiles.csv"}) {
      EXPECT_EQ(slurp(dir / "out1" / f), slurp(dir / "out2" / f)) << c.sample << " " << f;
      EXPECT_EQ(slurp(dir / "out1" / f), slurp(dir / "baseline" / f)) << c.sample << " " << f;
    }
    const json summary = json::parse(slurp(dir / "out1" / "summary.json"));
    ASSERT_EQ(summary["largest_martingale_z"].size(), c.checks) << c.sample;
    EXPECT_EQ(summary["quantile_method"], "exact (type 7)");
    EXPECT_EQ(summary["quantile_rank_error"], 0);
    for (const auto& [name, z] : summary["largest_martingale_z"].items())
      EXPECT_LT(std::abs(z.get<double>()), c.bound) << c.sample << " " << name;
  }
}

TEST_F(tarvex_cross_asset, correlation_errors_name_the_factors) {
  const std::string where = "tarvex: error: " + (dir / "job.json").string() + ": $.correlation";
  const struct {
    std::function<void(json&)> edit;
    std::string message;
  } cases[] = {
      {[](json& j) { j["correlation"]["matrix"][4][5] = 0.2; },
       where + ".matrix: entries (\"EURUSD\", \"USD index\") = 0.200000 and (\"USD index\", \"EURUSD\") = 0.300000 "
               "differ: expected a symmetric matrix"},
      {[](json& j) { j["correlation"]["matrix"][6][6] = 0.9; },
       where + ".matrix: entry (\"ACME\", \"ACME\") is 0.900000: expected 1 on the diagonal"},
      {[](json& j) {
         auto& m = j["correlation"]["matrix"];
         m[0][4] = m[4][0] = 0.9;  // USD 1 with EURUSD
         m[2][4] = m[4][2] = -0.9;  // EUR 1 with EURUSD, while USD 1 and EUR 1 are +0.5
       },
       where + ".matrix: not positive definite: factor \"EURUSD\" is a combination of the factors before it "
               "(largest entry (\"USD 1\", \"EURUSD\") = 0.900000)"},
      {[](json& j) { j["correlation"]["factors"][1] = "USD 3"; },
       where + ".factors[1]: expected one of the job's factors, got \"USD 3\""},
      {[](json& j) { j["correlation"]["matrix"][0][1] = j["correlation"]["matrix"][1][0] = -0.3; },
       where + ".matrix: entry (\"USD 2\", \"USD 1\") = -0.300000: expected the currency's parameter correlation "
               "-0.350000"},
  };
  for (const auto& c : cases) {
    const auto r = simulate(job(c.edit), "out", "1");
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

TEST_F(tarvex_cross_asset, contradicting_currencies_are_refused_naming_file_and_path) {
  json late = json::parse(slurp(sample / "steep/market.json"));
  late["valuation_date"] = "2026-12-07";
  std::ofstream(dir / "late.json") << late.dump();
  const std::string where = "tarvex: error: " + (dir / "job.json").string() + ": $.";
  const struct {
    std::function<void(json&)> edit;
    std::string message;
  } cases[] = {
      {[](json& j) { j["currencies"][2]["name"] = "EUR"; },
       "currencies[2].name: expected a currency not listed before, got \"EUR\""},
      {[](json& j) { j["currencies"][2]["market"] = "late.json"; },
       "currencies[2].market: expected a market valued on 2026-12-04, got \"late.json\""},
      {[](json& j) { j["fx"][1]["foreign"] = "JPY"; },
       "fx[1].foreign: expected one of the foreign currencies \"EUR\", \"GBP\", got \"JPY\""},
      {[](json& j) { j["fx"][1]["foreign"] = "USD"; },
       "fx[1].foreign: expected one of the foreign currencies \"EUR\", \"GBP\", got \"USD\""},
      {[](json& j) { j["fx"][1]["foreign"] = "EUR"; },
       "fx[1].foreign: expected a currency without an earlier FX pair, got \"EUR\""},
      {[](json& j) { j["fx"].erase(0); },
       "currencies[1].name: expected a currency with an FX pair in \"fx\", got \"EUR\""},
      {[](json& j) { j["equities"][1]["currency"] = "CHF"; },
       "equities[1].currency: expected one of the currencies \"USD\", \"EUR\", \"GBP\", got \"CHF\""},
      {[](json& j) { j["credits"][0]["currency"] = "JPY"; },
       "credits[0].currency: expected one of the currencies \"USD\", \"EUR\", \"GBP\", got \"JPY\""},
  };
  for (const auto& c : cases) {
    const auto r = simulate(job(c.edit, "three_currency_job.json"), "out", "1");
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, where + c.message + "\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

}  // namespace
