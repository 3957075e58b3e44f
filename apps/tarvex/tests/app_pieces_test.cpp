// The app's pieces in process: option parsing, staged outputs, the job's
// date grid and a statistical check of the simulated zero-rate distribution.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Core/parallel_for.h"
#include "batch_fold.h"
#include "command_line.h"
#include "hjm_calibration.h"
#include "input_error.h"
#include "market_file.h"
#include "output_folder.h"
#include "simulation_job.h"
#include "simulation_run.h"

namespace tarvex::app {
namespace {
namespace fs = std::filesystem;

// Batches of uneven length on every thread: each is folded once, in batch order, with
// its own result, and each loop index claims one batch.
TEST(batch_fold, folds_every_batch_once_in_order_whatever_finishes_first) {
  const std::size_t B = 200;
  std::vector<std::size_t> order;
  batch_fold<std::size_t> fold([&](std::size_t b, std::size_t&& square) {
    EXPECT_EQ(square, b * b);
    order.push_back(b);
  });
  smp_tools_api::GetInstance().parallel_for(0, B, 1, [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t b = fold.claim();
      std::this_thread::sleep_for(std::chrono::microseconds((b * 7919) % 500));
      fold.done(b, b * b);
    }
  });
  ASSERT_EQ(order.size(), B);
  for (std::size_t b = 0; b < B; ++b) EXPECT_EQ(order[b], b);
  EXPECT_EQ(fold.folded(), B);
}

TEST(command_line, parses_values_and_flags_and_names_every_mistake) {
  const command_line ok("simulate", {"--job", "j.json", "--plot", "--output", "o"}, {"--job", "--output"}, {"--plot"});
  EXPECT_EQ(ok.value("--job"), "j.json");
  EXPECT_TRUE(ok.flag("--plot"));
  EXPECT_FALSE(ok.has("--threads"));
  EXPECT_EQ(ok.value_or("--threads", "0"), "0");
  EXPECT_TRUE(command_line("simulate", {"--help"}, {"--job"}, {}).help());
  auto message = [](const std::vector<std::string>& args) {
    try {
      command_line c("simulate", args, {"--job"}, {"--plot"});
      c.value("--job");
    } catch (const input_error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message({"--job"}), "tarvex simulate: option --job needs a value (see 'tarvex simulate --help')");
  EXPECT_EQ(message({"--job", "a", "--job", "b"}), "tarvex simulate: option --job given twice");
  EXPECT_EQ(message({"--jb", "a"}), "tarvex simulate: unknown option '--jb' (see 'tarvex simulate --help')");
  EXPECT_EQ(message({"extra"}), "tarvex simulate: unexpected argument 'extra' (see 'tarvex simulate --help')");
  EXPECT_EQ(message({"--plot"}), "tarvex simulate: missing option --job (see 'tarvex simulate --help')");
}

TEST(output_folder, files_appear_only_on_commit) {
  const fs::path target = fs::temp_directory_path() / ("tarvex_output_folder_test_" + std::to_string(::getpid()));
  fs::remove_all(target);
  {
    output_folder f(target);
    std::ofstream(f.file("a.csv")) << "1\n";
    // Dropped without commit, as when a run throws.
  }
  EXPECT_FALSE(fs::exists(target));
  for (const auto& e : fs::directory_iterator(target.parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".tarvex_output_folder_test"), std::string::npos);
  {
    output_folder f(target);
    std::ofstream(f.file("a.csv")) << "2\n";
    f.commit();
  }
  std::ifstream in(target / "a.csv");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "2");
  // A second run into the existing folder replaces its files.
  {
    output_folder f(target);
    std::ofstream(f.file("a.csv")) << "3\n";
    f.commit();
  }
  std::ifstream again(target / "a.csv");
  std::getline(again, line);
  EXPECT_EQ(line, "3");
  fs::remove_all(target);
}

// A job on the sample market with a one-factor model written in place.
simulation_job one_factor_job(double kappa, double sigma) {
  const fs::path dir = fs::temp_directory_path() / ("tarvex_one_factor_job_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(TARVEX_SAMPLE_DATA) / "market.json", dir / "market.json",
                fs::copy_options::overwrite_existing);
  matrix<double> k(1, 1, kappa), s(1, 1, sigma), rho(1, 1, 1.0);
  const datetime today(2026, 12, 4);
  parameter_markovian_hjm::write_to_json(
      (dir / "p.json").string(),
      std::make_shared<const parameter_markovian_hjm>(k, s, rho, std::vector<datetime>{today},
                                                      std::vector<datetime>{today}, nullptr,
                                                      parameter_markovian_hjm_type::mean_reversion));
  std::ofstream(dir / "job.json") << R"({
    "valuation_date": "2026-12-04", "market": "market.json",
    "simulation_dates": {"step": "1Y", "horizon": "5Y"},
    "risk_factors": [{"model": "hjm", "parameters": "p.json"}],
    "random": {"generator": "philox", "seed": 7, "paths_per_batch": 10000, "batches": 2},
    "outputs": {"bond_maturities": ["10Y"], "zero_rate_tenors": ["2Y"], "quantiles": [0.05, 0.5, 0.95]}})";
  return read_simulation_job((dir / "job.json").string());
}

TEST(simulation_job, tenor_grid_counts_every_date_from_today) {
  const auto job = one_factor_job(0.05, 0.01);
  ASSERT_EQ(job.dates.size(), 6u);
  EXPECT_EQ(job.dates[0], datetime(2026, 12, 4));
  EXPECT_EQ(job.dates[5], datetime(2031, 12, 4));
  EXPECT_EQ(job.correlation.rows(), 1u);
  EXPECT_EQ(job.zero_rate_tenors.front(), tenor("2Y"));
}

// Under Hull-White (one factor, constant decay k and volatility s) log P(t, t + tau) is
// Gaussian with variance B^2 s^2 (1 - e^{-2kt}) / 2k, B = (1 - e^{-k tau}) / k, under
// any of the usual measures: the 5%-95% spread of the 2Y zero rate is known in closed
// form. 20,000 paths estimate it to about 0.7% (one standard error).
// Writes `text` to a file in a scratch folder beside a copy of the sample market and
// returns what reading it as `reader` throws.
template <class Reader>
std::string error_reading(const std::string& name, const std::string& text, Reader reader) {
  const fs::path dir = fs::temp_directory_path() / ("tarvex_reader_errors_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(TARVEX_SAMPLE_DATA) / "market.json", dir / "market.json",
                fs::copy_options::overwrite_existing);
  fs::copy_file(fs::path(TARVEX_SAMPLE_DATA) / "hjm_parameters.json", dir / "p.json",
                fs::copy_options::overwrite_existing);
  std::ofstream(dir / name) << text;
  try {
    reader((dir / name).string());
  } catch (const input_error& e) {
    const std::string what = e.what(), prefix = (dir / name).string() + ": ";
    return what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what;
  }
  return "no error";
}

TEST(readers, report_the_json_path_and_what_was_expected) {
  const auto market = [](const std::string& curve, const std::string& vols = "[[100, 101], [99, 98]]") {
    return R"({"valuation_date": "2026-12-04", "currency": "USD", "curve": )" + curve +
           R"(, "swaption_normal_vols": {"expiries": ["1Y", "2Y"], "tenors": ["1Y", "5Y"], "vols": )" + vols + "}}";
  };
  const std::string good_curve = R"({"pillars": ["2027-12-04", "2031-12-04"], "values": [0.03, 0.035]})";
  const auto read = [](const std::string& f) { read_market(f); };
  EXPECT_EQ(error_reading("m.json", market(good_curve), read), "no error");
  EXPECT_EQ(error_reading("m.json", "{\"valuation_date\": ", read).substr(0, 15), "not valid JSON ");
  EXPECT_EQ(error_reading("m.json", market(R"({"quote": "discount_factor", "pillars": ["2027-12-04"], "values": [0]})"),
                          read),
            "$.curve.values[0]: expected a positive discount factor, got 0");
  EXPECT_EQ(error_reading("m.json", market(R"({"pillars": ["2027-12-04"], "values": [0.03, 0.04]})"), read),
            "$.curve.values: expected 1 values, one per pillar, got [0.03,0.04]");
  EXPECT_EQ(error_reading("m.json", market(R"({"day_count": "ACT/366", "pillars": ["2027-12-04"], "values": [0.03]})"),
                          read),
            "$.curve.day_count: expected a day count (\"ACT/365F\", \"ACT/360\", \"30/360\" or \"ACT/ACT ISDA\"), "
            "got \"ACT/366\"");
  EXPECT_EQ(error_reading("m.json", market(R"({"pillars": ["2026-11-04"], "values": [0.03]})"), read),
            "$.curve.pillars[0]: expected a date after the valuation date, got \"2026-11-04\"");
  EXPECT_EQ(error_reading("m.json", market(good_curve, "[[100, 101], [99]]"), read),
            "$.swaption_normal_vols.vols[1]: expected 2 vols, one per tenor, got [99]");
  EXPECT_EQ(error_reading("m.json", market(R"({"pillars": ["2027-02-30"], "values": [0.03]})"), read),
            "$.curve.pillars[0]: expected an ISO date (YYYY-MM-DD), got \"2027-02-30\"");

  const auto correlation = [](const std::string& f) { read_correlation(f); };
  EXPECT_EQ(error_reading("c.json", R"({"correlation": [[1, 0.9, -0.9], [0.9, 1, 0.9], [-0.9, 0.9, 1]]})", correlation),
            "$.correlation: expected a positive definite correlation matrix, got [[1,0.9,-0.9],[0.9,1,0.9],[-0.9,0.9,1]]");
  EXPECT_EQ(error_reading("c.json", R"({"correlation": [[1, 0.2], [0.3, 1]]})", correlation),
            "$.correlation[0][1]: expected a symmetric matrix, got 0.2");
  EXPECT_EQ(error_reading("c.json", R"({"correlation": [[1, 0.2]]})", correlation),
            "$.correlation: expected a square matrix, got [[1,0.2]]");

  const auto job = [](const std::string& dates, const std::string& extra = "") {
    return R"({"valuation_date": "2026-12-04", "market": "market.json", "simulation_dates": )" + dates +
           R"(, "risk_factors": [{"model": "hjm", "parameters": "p.json"}],
              "random": {"paths_per_batch": 100, "batches": 2}, "outputs": {"bond_maturities": ["5Y"])" + extra +
           "}}";
  };
  const auto read_job = [](const std::string& f) { read_simulation_job(f); };
  EXPECT_EQ(error_reading("j.json", job(R"(["2027-12-04", "2028-12-04"])"), read_job), "no error");
  EXPECT_EQ(error_reading("j.json", job(R"(["2026-12-04"])"), read_job),
            "$.simulation_dates[0]: expected a date after the valuation date, got \"2026-12-04\"");
  EXPECT_EQ(error_reading("j.json", job(R"({"step": "0M", "horizon": "5Y"})"), read_job),
            "$.simulation_dates.step: expected a positive step, got \"0M\"");
  EXPECT_EQ(error_reading("j.json", job(R"({"step": "1M"})"), read_job),
            "$.simulation_dates: missing field \"horizon\"");
  EXPECT_EQ(error_reading("j.json", job(R"({"step": "1Y", "horizon": "5Y"})", R"(, "quantiles": [0.5, 0.05])"),
                          read_job),
            "$.outputs.quantiles[1]: expected ascending probabilities, got 0.05");
  EXPECT_EQ(error_reading("j.json", job(R"({"step": "1Y", "horizon": "5Y"})", R"(, "quantile_capacity": 1)"),
                          read_job),
            "$.outputs.quantile_capacity: expected at least 2 values per level, got 1");
  EXPECT_EQ(error_reading("j.json",
                          R"({"valuation_date": "2026-12-05", "market": "market.json", "simulation_dates": []})",
                          read_job),
            "$.valuation_date: expected the market's valuation date 2026-12-04, got \"2026-12-05\"");
}

TEST(run_simulation, zero_rate_quantile_spread_matches_hull_white) {
  const double k = 0.05, s = 0.01;
  const auto job = one_factor_job(k, s);
  const auto r = run_simulation(job, nullptr);
  ASSERT_EQ(r.paths, 20000u);
  const double z95 = 1.6448536269514722;
  for (std::size_t d = 0; d < r.dates.size(); ++d) {
    const double t = job.today.day_count->fraction(job.dates[0], r.dates[d]);
    const double tau = job.today.day_count->fraction(r.dates[d], datetime(2028 + static_cast<int>(d) + 1, 12, 4));
    const double B = (1.0 - std::exp(-k * tau)) / k;
    const double sd = B * s * std::sqrt((1.0 - std::exp(-2.0 * k * t)) / (2.0 * k)) / tau;
    const auto& q = r.zero_quantiles[0][d];
    EXPECT_NEAR((q[2] - q[0]) / (2.0 * z95 * sd), 1.0, 0.03) << r.dates[d].to_string();
    // The bond is a martingale once deflated.
    EXPECT_LT(std::fabs(r.mean[d][0] - r.today[d][0]), 3.0 * r.error[d][0]);
  }
}

TEST(run_simulation, thread_count_leaves_every_figure_unchanged) {
  auto job = one_factor_job(0.05, 0.01);
  for (std::size_t capacity : {0u, 64u}) {  // exact, then compacted summaries
    job.quantile_capacity = capacity;
    smp_tools_api::GetInstance().SetNumberOfThreads(1);
    const auto a = run_simulation(job, nullptr);
    smp_tools_api::GetInstance().SetNumberOfThreads(0);
    const auto b = run_simulation(job, nullptr);
    EXPECT_EQ(a.mean, b.mean);
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.zero_quantiles, b.zero_quantiles) << capacity;
    EXPECT_EQ(a.zero_rank_error, b.zero_rank_error) << capacity;
    EXPECT_EQ(a.zero_rank_error[0][0] > 0, capacity > 0);
  }
}

}  // namespace
}  // namespace tarvex::app
