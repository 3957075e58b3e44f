// The cross-asset simulate job through the executable: results independent of the
// thread count, and correlation errors that name the factors.
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
    fs::create_directories(dir / "eur_negative");
    for (const char* f : {"market.json", "hjm_parameters.json", "eur_negative/market.json"})
      fs::copy_file(sample / f, dir / f);
  }

  // The sample job, smaller, edited.
  fs::path job(const std::function<void(json&)>& edit) {
    json j = json::parse(slurp(sample / "cross_asset_job.json"));
    j["simulation_dates"] = {{"step", "3M"}, {"horizon", "5Y"}};
    j["random"]["paths_per_batch"] = 1000;
    j["random"]["batches"] = 3;
    edit(j);
    std::ofstream(dir / "job.json") << j.dump(2);
    return dir / "job.json";
  }

  outcome simulate(const fs::path& job_file, const std::string& out, const std::string& threads) const {
    return run({"simulate", "--job", job_file.string(), "-o", (dir / out).string(), "--threads", threads});
  }
};

TEST_F(tarvex_cross_asset, one_and_two_threads_give_the_same_files_and_the_checks_hold) {
  const auto j = job([](json&) {});
  for (const char* threads : {"1", "2"}) {
    const auto r = simulate(j, std::string("out") + threads, threads);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  for (const char* f : {"martingale.csv", "quantiles.csv"})
    EXPECT_EQ(slurp(dir / "out1" / f), slurp(dir / "out2" / f)) << f;
  // Every asset class is checked, and every check holds (3000 paths, 20 dates, 13 checks:
  // 4 standard errors leave room for the largest of some 250 z-scores).
  const json summary = json::parse(slurp(dir / "out1" / "summary.json"));
  ASSERT_EQ(summary["largest_martingale_z"].size(), 9u);
  EXPECT_EQ(summary["quantile_method"], "exact (type 7)");
  EXPECT_EQ(summary["quantile_rank_error"], 0);
  for (const auto& [name, z] : summary["largest_martingale_z"].items()) EXPECT_LT(std::abs(z.get<double>()), 4.0) << name;
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

}  // namespace
