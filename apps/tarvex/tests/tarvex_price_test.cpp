// `tarvex price swaption` end to end: the sample trades price, the European agrees with
// its closed form, bad trades fail on one line with status 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;

const fs::path sample = TARVEX_SAMPLE_DATA;
const fs::path trades = fs::path(TARVEX_SAMPLE_DATA).parent_path() / "trades";

double figure(const std::string& text, const std::string& label) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(label + R"(: +(-?[0-9.]+))"))) return -1e300;
  return std::stod(m[1]);
}

struct tarvex_price : cli_test {
  outcome price(const fs::path& trade, const fs::path& params) const {
    return run({"price", "swaption", "--market", (sample / "market.json").string(), "--params", params.string(),
                "--trade", trade.string()});
  }
  fs::path edited(const std::string& from, const std::string& to) {
    std::string text = slurp(trades / "bermudan_10nc1.json");
    text.replace(text.find(from), from.size(), to);
    std::ofstream(dir / "trade.json") << text;
    return dir / "trade.json";
  }
};

TEST_F(tarvex_price, sample_trades_price_and_the_european_matches_its_closed_form) {
  const fs::path one = trades / "hjm_one_factor.json";
  const auto bermudan = price(trades / "bermudan_10nc1.json", one);
  ASSERT_EQ(bermudan.status, 0) << bermudan.err;
  EXPECT_NE(bermudan.out.find("Bermudan payer swaption"), std::string::npos) << bermudan.out;
  EXPECT_NE(bermudan.out.find("grid: 201 nodes per factor x "), std::string::npos) << bermudan.out;
  const auto european = price(trades / "european_5y5y.json", one);
  ASSERT_EQ(european.status, 0) << european.err;
  const double pde = figure(european.out, "PDE price"), closed = figure(european.out, "closed-form price");
  EXPECT_NEAR(pde, closed, 0.05e-4 * 1e7) << european.out;  // 0.05 bp of the notional
  EXPECT_GT(figure(bermudan.out, "PDE price"), 0.0);
  // Two factors, European: PDE and closed form side by side.
  const auto two = price(trades / "european_5y5y.json", sample / "hjm_parameters.json");
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_NEAR(figure(two.out, "PDE price"), figure(two.out, "closed-form price"), 0.1e-4 * 1e7) << two.out;
}

TEST_F(tarvex_price, three_factor_parameters_price_by_adi) {
  // Default grid 41^3: the European within 0.1 bp of notional of its closed form
  // (measured 0.037 bp); the Bermudan from 13M, whose first state 41 nodes resolve.
  const fs::path three = trades / "hjm_three_factor.json";
  const auto european = price(trades / "european_5y5y.json", three);
  ASSERT_EQ(european.status, 0) << european.err;
  EXPECT_NE(european.out.find("grid: 41 nodes per factor x "), std::string::npos) << european.out;
  EXPECT_NEAR(figure(european.out, "PDE price"), figure(european.out, "closed-form price"), 0.1e-4 * 1e7)
      << european.out;
  const auto bermudan = price(edited("\"2027-01-05\"", "\"2028-01-05\""), three);
  ASSERT_EQ(bermudan.status, 0) << bermudan.err;
  EXPECT_NE(bermudan.out.find("model: 3-factor Markovian HJM"), std::string::npos) << bermudan.out;
  EXPECT_GT(figure(bermudan.out, "PDE price"), 0.0) << bermudan.out;
}

TEST_F(tarvex_price, bad_trades_exit_two_with_one_line) {
  const fs::path one = trades / "hjm_one_factor.json";
  struct row {
    std::string from, to, message;
  };
  for (const row& r : {row{"\"2036-01-05\"", "\"2026-06-05\"",
                           "$.first_exercise: the exercise 2027-01-05 is not before the maturity 2026-06-05"},
                       row{"10000000", "-5", "$.notional: expected a positive number, got -5"},
                       row{"\"bermudan_swaption\"", "\"cap\"",
                           "$.type: expected \"european_swaption\" or \"bermudan_swaption\", got \"cap\""}}) {
    const auto o = price(edited(r.from, r.to), one);
    EXPECT_EQ(o.status, 2) << r.message;
    EXPECT_EQ(o.err, "tarvex: error: " + (dir / "trade.json").string() + ": " + r.message + "\n");
    EXPECT_EQ(o.out, "");
  }
}

TEST_F(tarvex_price, two_factor_sample_bermudan_prices_despite_its_fast_factor) {
  // The sample's second factor decays at 1.5 a year: its undecayed state is e^12 times
  // wider at 9Y than at 1M, its decayed one about as wide. The Bermudan is worth more
  // than the European on its first exercise, and refining the grid moves it by less than
  // 0.5 bp of notional (measured 0.27 bp from 101 to 151 nodes; the error is second order).
  const fs::path two = sample / "hjm_parameters.json";
  const auto bermudan = price(trades / "bermudan_10nc1.json", two);
  ASSERT_EQ(bermudan.status, 0) << bermudan.err;
  EXPECT_NE(bermudan.out.find("model: 2-factor Markovian HJM"), std::string::npos) << bermudan.out;
  const auto european = price(edited("\"bermudan_swaption\"", "\"european_swaption\""), two);
  ASSERT_EQ(european.status, 0) << european.err;
  EXPECT_GT(figure(bermudan.out, "PDE price"), figure(european.out, "closed-form price")) << european.out;
  const auto finer = run({"price", "swaption", "--market", (sample / "market.json").string(), "--params", two.string(),
                          "--trade", (trades / "bermudan_10nc1.json").string(), "--grid", "151"});
  ASSERT_EQ(finer.status, 0) << finer.err;
  EXPECT_NEAR(figure(finer.out, "PDE price"), figure(bermudan.out, "PDE price"), 0.5e-4 * 1e7) << finer.out;
}

TEST_F(tarvex_price, a_curve_without_a_finite_swap_rate_is_the_market_s_fault) {
  const fs::path one = trades / "hjm_one_factor.json";
  // A curve whose one pillar's rate, extrapolated, underflows before the first exercise:
  // the market's fault, said as such rather than as the pricer's refusal of a NaN strike.
  std::string market = slurp(sample / "market.json");
  market = std::regex_replace(market, std::regex(R"("pillars": \[[^\]]*\])"), R"("pillars": ["2027-12-04"])");
  market = std::regex_replace(market, std::regex(R"("values": \[[^\]]*\])"), R"("values": [700])");
  std::ofstream(dir / "market.json") << market;
  const auto steep = run({"price", "swaption", "--market", (dir / "market.json").string(), "--params", one.string(),
                          "--trade", (trades / "bermudan_10nc1.json").string()});
  EXPECT_EQ(steep.status, 2);
  EXPECT_EQ(steep.err, "tarvex: error: " + (dir / "market.json").string() +
                           ": $.curve: the trade's swap has no finite swap rate on this curve (discount factors that "
                           "underflow to zero?)\n");
}

}  // namespace
