// `tarvex simulate` with Cheyette rates: the sample HJM parameters nested in a Cheyette
// set with a skew, the same martingale check and quantiles as an HJM job, and a
// malformed Cheyette file refused with the file, JSON path and what was expected.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

namespace {
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

std::string slurp(const fs::path& p) {
  std::stringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

struct folder {
  fs::path dir = fs::temp_directory_path() / ("tarvex_simulate_cheyette_" + std::to_string(::getpid()));
  folder() {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~folder() { fs::remove_all(dir); }
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

std::pair<int, std::string> simulate(const fs::path& dir, const fs::path& job) {
  const std::string command = std::string("'") + TARVEX_EXECUTABLE + "' simulate --job '" + job.string() + "' -o '" +
                              (dir / "out").string() + "' >/dev/null 2>'" + (dir / "stderr.txt").string() + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir / "stderr.txt")};
}

TEST(tarvex_simulate_cheyette, cheyette_rates_pass_the_martingale_check_and_report_quantiles) {
  folder f;
  const auto [status, err] = simulate(f.dir, cheyette_job(f.dir, nullptr));
  ASSERT_EQ(status, 0) << err;
  const json summary = json::parse(slurp(f.dir / "out" / "summary.json"));
  EXPECT_EQ(summary["factors"], 2);
  EXPECT_EQ(summary["paths"], 8000);
  // The signed (mean - P(0,T)) / s.e. of largest size over 40 dates and 5 maturities.
  EXPECT_LT(std::fabs(summary["largest_martingale_z"].get<double>()), 4.0);
  EXPECT_TRUE(fs::exists(f.dir / "out" / "martingale.csv"));
  EXPECT_TRUE(fs::exists(f.dir / "out" / "zero_rate_quantiles.csv"));
}

TEST(tarvex_simulate_cheyette, a_skew_without_its_dates_is_refused) {
  folder f;
  const auto [status, err] = simulate(f.dir, cheyette_job(f.dir, [](json& root) {
    root["skew_parameter_dates"] = {46360.0, 46725.0};
  }));
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("cheyette_parameters.json: $.root.skew_parameter.rows: expected 2, one per entry of "
                     "skew_parameter_dates"),
            std::string::npos)
      << err;
}

}  // namespace
