// The simulate command against inputs that do not belong together: one line naming the
// file, the JSON path and what was expected, exit status 2, nothing written.
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

class tarvex_simulate_checks : public cli_test {
 protected:
  // The sample job over a small batch, with the sample market and an edited copy of
  // the sample parameters beside it.
  fs::path job(const std::function<void(json&)>& edit_job, const std::function<void(json&)>& edit_parameters) {
    fs::copy_file(sample / "market.json", dir / "market.json", fs::copy_options::overwrite_existing);
    json p = json::parse(slurp(sample / "hjm_parameters.json"));
    edit_parameters(p["root"]);
    std::ofstream(dir / "hjm_parameters.json") << p.dump(2);
    json j = json::parse(slurp(sample / "job.json"));
    j["simulation_dates"] = {{"step", "3M"}, {"horizon", "10Y"}};
    j["random"]["paths_per_batch"] = 200;
    j["random"]["batches"] = 1;
    edit_job(j);
    std::ofstream(dir / "job.json") << j.dump(2);
    return dir / "job.json";
  }

  // `tarvex simulate --job J -o dir/out`.
  outcome simulate(const fs::path& job_file) const {
    return run({"simulate", "--job", job_file.string(), "-o", (dir / "out").string()});
  }
};

// The sample parameters run from 2027-12-04 to 2046-12-04 (serials 46725 to 53665);
// the job starts on 2026-12-04.
TEST_F(tarvex_simulate_checks, parameters_dated_wholly_outside_the_simulation_are_refused) {
  const auto keep = [](json&) {};
  const auto shift = [](double days) {
    return [days](json& p) {
      for (const char* key : {"decays_dates", "volatilities_dates"})
        for (auto& d : p[key]) d = d.get<double>() + days;
    };
  };
  const auto six_months = [](json& j) { j["simulation_dates"]["horizon"] = "6M"; };
  const std::string where = "tarvex: error: " + (dir / "job.json").string() +
                            ": $.risk_factors[0].parameters: expected a parameter set whose dates overlap the "
                            "simulation (2026-12-04 to ";
  const struct {
    std::function<void(json&)> edit_job, edit_parameters;
    std::string message;
  } cases[] = {
      {keep, shift(-10000.0),
       where + "2036-12-04), got \"hjm_parameters.json\" with dates from 2000-07-18 to 2019-07-19"},
      {six_months, keep, where + "2027-06-04), got \"hjm_parameters.json\" with dates from 2027-12-04 to 2046-12-04"},
  };
  for (const auto& c : cases) {
    const auto r = simulate(job(c.edit_job, c.edit_parameters));
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_FALSE(fs::exists(dir / "out")) << c.message;
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_EQ(e.path().filename().string().find(".out"), std::string::npos) << "staging left: " << e.path();
  }
  // Touching at one end is enough: a 1Y horizon ends on the first parameter date, and a
  // set ending on the valuation date still governs the first step.
  for (const auto& [edit_job, edit_parameters] :
       {std::pair<std::function<void(json&)>, std::function<void(json&)>>{
            [](json& j) { j["simulation_dates"]["horizon"] = "1Y"; }, keep},
        {keep, shift(46360.0 - 53665.0)}}) {
    const auto r = simulate(job(edit_job, edit_parameters));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "summary.json"));
    fs::remove_all(dir / "out");
  }
}

}  // namespace
