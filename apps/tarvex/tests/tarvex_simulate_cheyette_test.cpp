// `tarvex simulate` with Cheyette rates: the sample HJM parameters nested in a Cheyette
// set with a skew, the same martingale check and quantiles as an HJM job, and a
// malformed Cheyette file refused with the file, JSON path and what was expected.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

class tarvex_simulate_cheyette : public cli_test {
 protected:
  // `tarvex simulate --job J -o dir/out`.
  outcome simulate(const fs::path& job) const {
    return run({"simulate", "--job", job.string(), "-o", (dir / "out").string()});
  }
};

// A job over the sample market whose rates are Cheyette parameters built from the sample
// HJM set with skew rows {10, -5} from the valuation date; `edit` may spoil the file.
fs::path cheyette_job(const fs::path& dir, void (*edit)(json&)) {
  fs::copy_file(sample / "market.json", dir / "market.json", fs::copy_options::overwrite_existing);
  json hjm = json::parse(slurp(sample / "hjm_parameters.json"))["root"];
  json root;
  root["Class"] = "tarvex::parameter_cheyette";
  root["parameters"] = hjm;
  root["skew_parameter"] = {{"class", "tarvex.matrix"}, {"rows", 1}, {"columns", 2}, {"data", {{10.0}, {-5.0}}}};
  root["skew_parameter_dates"] = {46360.0};  // 2026-12-04, the valuation date
  root["long_term_skew_level"] = 0.0;
  if (edit) edit(root);
  std::ofstream(dir / "cheyette_parameters.json") << json{{"root", root}}.dump(2);
  json j = json::parse(slurp(sample / "job.json"));
  j["simulation_dates"] = {{"step", "3M"}, {"horizon", "10Y"}};
  j["risk_factors"][0]["model"] = "cheyette";
  j["risk_factors"][0]["parameters"] = "cheyette_parameters.json";
  j["random"]["paths_per_batch"] = 4000;
  j["random"]["batches"] = 2;
  std::ofstream(dir / "job.json") << j.dump(2);
  return dir / "job.json";
}

TEST_F(tarvex_simulate_cheyette, cheyette_rates_pass_the_martingale_check_and_report_quantiles) {
  const auto r = simulate(cheyette_job(dir, nullptr));
  ASSERT_EQ(r.status, 0) << r.err;
  const json summary = json::parse(slurp(dir / "out" / "summary.json"));
  EXPECT_EQ(summary["factors"], 2);
  EXPECT_EQ(summary["paths"], 8000);
  // The signed (mean - P(0,T)) / s.e. of largest size over 40 dates and 5 maturities.
  EXPECT_LT(std::fabs(summary["largest_martingale_z"].get<double>()), 4.0);
  EXPECT_TRUE(fs::exists(dir / "out" / "martingale.csv"));
  EXPECT_TRUE(fs::exists(dir / "out" / "zero_rate_quantiles.csv"));
}

TEST_F(tarvex_simulate_cheyette, a_skew_without_its_dates_is_refused) {
  const auto r = simulate(cheyette_job(dir, [](json& root) {
    root["skew_parameter_dates"] = {46360.0, 46725.0};
  }));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cheyette_parameters.json: $.root.skew_parameter.rows: expected 2, one per entry of "
                       "skew_parameter_dates"),
            std::string::npos)
      << r.err;
}

}  // namespace
