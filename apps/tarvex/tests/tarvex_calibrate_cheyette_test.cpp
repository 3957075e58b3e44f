// `tarvex calibrate cheyette` end to end on the synthetic sample cube, the poor-fit
// refusal, and bad cubes refused with one line naming file and JSON path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = fs::path(TARVEX_SAMPLE_DATA) / "cheyette";

class tarvex_calibrate_cheyette : public cli_test {
 protected:
  outcome run(const fs::path& market, const fs::path& settings, const std::vector<std::string>& extra = {},
              const fs::path& hjm = sample / "hjm_parameters.json") const {
    std::vector<std::string> args{"calibrate", "cheyette", "--market", market.string(),
                                  "--targets", (sample / "targets.json").string(), "--settings", settings.string(),
                                  "--hjm", hjm.string(), "-o", output().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return cli_test::run(args);
  }
  fs::path output() const { return dir / "cheyette.json"; }

  // A copy of a sample file with one edit.
  fs::path edited(const char* name, const std::function<void(json&)>& edit) const {
    json j = json::parse(slurp(sample / name));
    edit(j);
    const fs::path p = dir / name;
    std::ofstream(p) << j.dump(2);
    return p;
  }
};

// The cube was priced from skews 10, 8, 6, 5, 4 (vols rounded to 1e-4 bp): the fit
// recovers them and prints one table per smile.
TEST_F(tarvex_calibrate_cheyette, fits_the_sample_cube_and_prints_the_smiles) {
  const auto r = run(sample / "market.json", sample / "settings.json");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("smile 2027-12-04 into 2036-12-04"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  strike(%)  market(bp)  model(bp)  diff(bp)"), std::string::npos);
  std::smatch rms;
  ASSERT_TRUE(std::regex_search(r.out, rms, std::regex("fit: RMS ([0-9.]+) bp, worst ([0-9.]+) bp")));
  EXPECT_LT(std::stod(rms[2]), 0.05);
  const json written = json::parse(slurp(output()));
  EXPECT_EQ(written["root"]["Class"], "tarvex::parameter_cheyette");
  const auto& skews = written["root"]["skew_parameter"];
  std::vector<double> values;
  for (const auto& column : skews["data"])
    for (const auto& v : column) values.push_back(v.get<double>());
  const std::vector<double> known{10.0, 8.0, 6.0, 5.0, 4.0};
  ASSERT_EQ(values.size(), known.size()) << skews.dump();
  for (std::size_t k = 0; k < known.size(); ++k) EXPECT_NEAR(values[k], known[k], 5e-3) << k;
}

// Two iterations leave the fit poor: status 3, the complaint, nothing written.
TEST_F(tarvex_calibrate_cheyette, a_poor_fit_writes_nothing) {
  const auto settings = edited("settings.json", [](json& j) { j["root"]["max_iterations"] = 1; });
  const auto r = run(sample / "market.json", settings, {"--max-rms", "0.01"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("poor fit: RMS "), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(tarvex_calibrate_cheyette, bad_cubes_exit_2_with_one_line) {
  struct bad {
    const char* what;
    std::function<void(json&)> edit;
    std::string message;
  };
  const std::string cube = "$.swaption_normal_vol_cube.";
  const bad cases[] = {
      {"missing strike column", [](json& j) { j["swaption_normal_vol_cube"]["vols"][2][1].erase(6); },
       cube + "vols[2][1]: expected 7 vols, one per strike offset, got"},
      {"negative vol", [](json& j) { j["swaption_normal_vol_cube"]["vols"][0][3][4] = -1.0; },
       cube + "vols[0][3][4]: expected a non-negative number, got -1"},
      {"unsorted offsets", [](json& j) { j["swaption_normal_vol_cube"]["strike_offsets_bp"][4] = -60.0; },
       cube + "strike_offsets_bp[4]: expected an offset above the previous one (offsets ascend), got -60"},
      {"offset beyond 300 bp", [](json& j) { j["swaption_normal_vol_cube"]["strike_offsets_bp"][6] = 350.0; },
       cube + "strike_offsets_bp[6]: expected an offset within 300 bp of the forward, got 350"},
      {"no cube", [](json& j) { j.erase("swaption_normal_vol_cube"); },
       "missing field \"swaption_normal_vol_cube\" (the Cheyette calibration fits smiles)"},
  };
  for (const auto& c : cases) {
    const auto market = edited("market.json", c.edit);
    const auto r = run(market, sample / "settings.json");
    EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(market.string() + ": " + c.message), std::string::npos)
        << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << c.what << ": " << r.out;
    EXPECT_FALSE(fs::exists(output())) << c.what;
  }
}

// The HJM start must be one-factor and carry every target expiry among its dates.
TEST_F(tarvex_calibrate_cheyette, unusable_hjm_parameters_exit_2) {
  const fs::path two_factor = fs::path(TARVEX_SAMPLE_DATA) / "hjm_parameters.json";
  const auto r = run(sample / "market.json", sample / "settings.json", {}, two_factor);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tarvex: error: " + two_factor.string() +
                       ": expected one-factor HJM parameters (the smile pricing is one-factor), got 2 factors\n");
  EXPECT_FALSE(fs::exists(output()));
}

}  // namespace
