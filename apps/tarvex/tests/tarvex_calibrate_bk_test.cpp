// `tarvex calibrate bk` end to end: the bundled credit curve and a discount curve fit
// within the settings' tolerance, and bad credit inputs exit 2 with one line and no
// output file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Analytics/parameters/parameter_black_karasinski.h"
#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

class tarvex_calibrate_bk : public cli_test {
 protected:
  // The fit table's "diff (bp)" column.
  static std::vector<double> differences(const std::string& out) {
    std::vector<double> d;
    std::istringstream lines(out);
    std::string line;
    bool table = false;
    while (std::getline(lines, line)) {
      if (line.rfind("pillar", 0) == 0) {
        table = true;
        continue;
      }
      if (table && line.empty()) break;
      if (table) d.push_back(std::stod(line.substr(line.find_last_of(' ') + 1)));
    }
    return d;
  }
};

TEST_F(tarvex_calibrate_bk, bundled_credit_curve_and_a_discount_curve_fit_within_tolerance) {
  const auto params = (dir / "params.json").string();
  auto r = run({"calibrate", "bk", "--market", (sample / "credit" / "market.json").string(), "--settings",
                (sample / "credit" / "settings.json").string(), "--curve", "credit", "-o", params});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto credit = differences(r.out);
  ASSERT_EQ(credit.size(), 11u) << r.out;
  for (double bp : credit) EXPECT_LE(std::fabs(bp), 1e-10 * 1e4) << r.out;  // tolerance 1e-10 in probability
  const auto p = tarvex::parameter_black_karasinski::read_from_json(params);
  ASSERT_EQ(p->levels_parameter().size(), 12u);
  EXPECT_EQ(p->levels_parameter()[11], p->levels_parameter()[10]);

  fs::remove(params);
  r = run({"calibrate", "bk", "--market", (sample / "market.json").string(), "--settings",
           (sample / "credit" / "settings.json").string(), "--curve", "discount", "-o", params});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto discount = differences(r.out);
  ASSERT_GT(discount.size(), 5u) << r.out;
  for (double bp : discount) EXPECT_LE(std::fabs(bp), 1e-10 * 1e4) << r.out;

  // A lognormal short rate stays positive: negative rates have no levels (exit 2, the
  // curve's fault, and nothing written).
  fs::remove(params);
  r = run({"calibrate", "bk", "--market", (sample / "eur_negative" / "market.json").string(), "--settings",
           (sample / "credit" / "settings.json").string(), "--curve", "discount", "-o", params});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tarvex: error: " + (sample / "eur_negative" / "market.json").string() +
                       ": no Black-Karasinski levels fit this discount curve with the settings of " +
                       (sample / "credit" / "settings.json").string() + " (black karasinski model not calibrated)\n");
  EXPECT_FALSE(fs::exists(params));
}

TEST_F(tarvex_calibrate_bk, bad_credit_inputs_exit_2_with_one_line_and_no_output) {
  const json market = json::parse(slurp(sample / "credit" / "market.json"));
  const auto edited = [&](const std::function<void(json&)>& change) {
    json m = market;
    change(m);
    std::ofstream(dir / "market.json") << m.dump(2);
    return (dir / "market.json").string();
  };
  const std::string file = (dir / "market.json").string();
  struct bad {
    std::function<void(json&)> change;
    std::string message;
  };
  const std::vector<bad> cases{
      {[](json& m) { m["credit"]["values"][2] = 1.2; },
       file + ": $.credit.values[2]: expected a survival probability in (0, 1], got 1.2"},
      {[](json& m) { m["credit"]["values"][3] = 0.99; },
       file + ": $.credit.values[3]: expected a survival probability not above the previous pillar's 0.980685, got 0.99"},
      {[](json& m) { m["credit"]["pillars"][0] = "2025-12-31"; },
       file + ": $.credit.pillars[0]: expected a date after the valuation date, got \"2025-12-31\""},
  };
  for (const auto& c : cases) {
    const auto path = edited(c.change);
    const auto params = dir / "params.json";
    const auto r = run({"calibrate", "bk", "--market", path, "--settings", (sample / "credit" / "settings.json").string(),
                        "--curve", "credit", "-o", params.string()});
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, "tarvex: error: " + c.message + "\n");
    EXPECT_FALSE(fs::exists(params)) << c.message;
  }
  // A volatility no level within the bounds can bootstrap under: said with both files.
  json settings = json::parse(slurp(sample / "credit" / "settings.json"));
  settings["volatility"] = 50.0;
  std::ofstream(dir / "settings.json") << settings.dump(2);
  const std::string market_file = (sample / "credit" / "market.json").string();
  const auto r = run({"calibrate", "bk", "--market", market_file, "--settings", (dir / "settings.json").string(),
                      "--curve", "credit", "-o", (dir / "params.json").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tarvex: error: " + market_file +
                       ": no Black-Karasinski levels fit this credit curve with the settings of " +
                       (dir / "settings.json").string() + " (black karasinski model not calibrated)\n");
  EXPECT_FALSE(fs::exists(dir / "params.json"));
}

}  // namespace
