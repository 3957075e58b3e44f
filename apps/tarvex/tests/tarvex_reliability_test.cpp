// Hostile inputs and interrupted runs through the executable: numbers and nesting a
// reader cannot hold, files that never end, outputs that are links, devices or inputs,
// Ctrl-C and kill -9 during the commit of an output folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace {
using namespace tarvex::cli_testing;
using json = nlohmann::ordered_json;

const fs::path sample = TARVEX_SAMPLE_DATA;

// Every file of a folder (names and bytes); staging folders beside it are reported too.
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& e : fs::directory_iterator(folder)) files[e.path().filename().string()] = slurp(e.path());
  return files;
}

std::vector<std::string> leftovers(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".partial-") != std::string::npos) names.push_back(e.path().filename());
  return names;
}

class tarvex_reliability : public cli_test {
 protected:
  void SetUp() override {
    cli_test::SetUp();
    for (const char* f : {"market.json", "hjm_parameters.json"}) fs::copy_file(sample / f, dir / f);
  }

  // Runs `prefix tarvex args`; a run that hangs is stopped after 60 s and reported as
  // status 124.
  outcome run(const std::vector<std::string>& args, const std::string& prefix = "") const {
    return cli_test::run(args, prefix + " timeout 60");
  }

  // A small job (quarterly dates over 5 years, 2 x 500 paths), edited.
  fs::path job(const std::function<void(json&)>& edit = {}, const std::string& name = "job.json") {
    json j = json::parse(slurp(sample / "job.json"));
    j["simulation_dates"] = {{"step", "3M"}, {"horizon", "5Y"}};
    j["random"]["paths_per_batch"] = 500;
    j["random"]["batches"] = 2;
    if (edit) edit(j);
    std::ofstream(dir / name) << j.dump(2);
    return dir / name;
  }

  // The sample market with `number` replaced by raw text, which JSON values cannot carry.
  fs::path market_with(const std::function<void(json&)>& place, const std::string& raw, const std::string& name) {
    json j = json::parse(slurp(sample / "market.json"));
    place(j);  // puts 123456.5 where the raw text goes
    std::string text = j.dump(2);
    text.replace(text.find("123456.5"), 8, raw);
    std::ofstream(dir / name) << text;
    return dir / name;
  }

  std::vector<std::string> calibrate(const fs::path& market, const fs::path& output) {
    return {"calibrate", "hjm", "--market", market.string(), "--targets", (sample / "targets.json").string(),
            "--settings", (sample / "settings.json").string(), "-o", output.string()};
  }
};

TEST_F(tarvex_reliability, numbers_and_nesting_beyond_the_readers_fail_with_file_and_path) {
  const auto vol = [](json& j) { j["swaption_normal_vols"]["vols"][0][1] = 123456.5; };
  const auto rate = [](json& j) { j["curve"]["values"][2] = 123456.5; };
  std::string deep = "$.valuation_date";
  for (int i = 0; i < 255; ++i) deep += "[0]";
  deep = deep.substr(0, 77) + "...";
  const struct {
    fs::path market;
    std::string expected;
  } cases[] = {
      {market_with(vol, "1e309", "a.json"),
       (dir / "a.json").string() + ": $.swaption_normal_vols.vols[0][1]: expected a finite number, got 1e309"},
      {market_with(rate, "2E2222", "b.json"),
       (dir / "b.json").string() + ": $.curve.values[2]: expected a finite number, got 2E2222"},
      {market_with([](json& j) { j["valuation_date"] = 123456.5; },
                   std::string(100000, '[') + std::string(100000, ']'), "c.json"),
       (dir / "c.json").string() + ": " + deep + ": expected at most 256 levels of nesting"},
  };
  for (const auto& c : cases) {
    const auto r = run(calibrate(c.market, dir / "p.json"));
    EXPECT_EQ(r.status, 2) << c.expected;
    EXPECT_EQ(r.err, "tarvex: error: " + c.expected + "\n");
  }
  EXPECT_FALSE(fs::exists(dir / "p.json"));

  // Integers beyond their range, and a step whose multiples overflow a count.
  const std::string j = (dir / "job.json").string();
  const struct {
    std::function<void(json&)> edit;
    std::string expected;
  } jobs[] = {
      {[](json& x) { x["random"]["seed"] = 18446744073709551615ull; },
       j + ": $.random.seed: expected an integer, got 18446744073709551615"},
      {[](json& x) { x["simulation_dates"] = {{"step", "1500000000D"}, {"horizon", "1500000001D"}}; },
       j + ": $.simulation_dates.step: expected a step of at most 1000 years, got \"1500000000D\""},
      {[](json& x) { x["simulation_dates"] = {{"step", "1Y"}, {"horizon", "1001Y"}}; },
       j + ": $.simulation_dates.horizon: expected a horizon of at most 1000 years, got \"1001Y\""},
  };
  for (const auto& c : jobs) {
    const auto r = run({"simulate", "--job", job(c.edit).string(), "-o", (dir / "out").string()});
    EXPECT_EQ(r.status, 2) << c.expected;
    EXPECT_EQ(r.err, "tarvex: error: " + c.expected + "\n");
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(tarvex_reliability, inputs_must_be_regular_files) {
  const fs::path fifo = dir / "fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& input : {fs::path("/dev/zero"), fifo, dir}) {
    const auto r = run(calibrate(input, dir / "p.json"));
    EXPECT_EQ(r.status, 2) << input;  // not 124: the FIFO without a writer does not block
    EXPECT_EQ(r.err, "tarvex: error: " + input.string() + ": not a regular file\n");
  }
  // Bounded size: 64 MiB and a byte.
  std::ofstream(dir / "huge.json").close();
  fs::resize_file(dir / "huge.json", (64ull << 20) + 1);
  const auto r = run(calibrate(dir / "huge.json", dir / "p.json"));
  EXPECT_EQ(r.err, "tarvex: error: " + (dir / "huge.json").string() +
                       ": too large (67108865 bytes; an input may have at most 64 MiB)\n");
}

TEST_F(tarvex_reliability, outputs_never_replace_inputs_links_or_devices) {
  // An output that is an input: refused before anything runs, the input intact.
  const std::string market = slurp(dir / "market.json");
  auto r = run(calibrate(dir / "market.json", dir / "market.json"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tarvex: error: " + (dir / "market.json").string() +
                       ": is one of this run's inputs; choose another output\n");
  EXPECT_EQ(slurp(dir / "market.json"), market);
  fs::create_symlink(dir / "market.json", dir / "market_link.json");
  r = run(calibrate(dir / "market.json", dir / "market_link.json"));
  EXPECT_EQ(r.err, "tarvex: error: " + (dir / "market_link.json").string() +
                       ": is one of this run's inputs; choose another output\n");
  EXPECT_EQ(slurp(dir / "market.json"), market);

  // A job file inside the output folder, named like an output: found at the commit.
  fs::create_directories(dir / "out");
  fs::copy_file(dir / "market.json", dir / "out" / "market.json");
  fs::copy_file(dir / "hjm_parameters.json", dir / "out" / "hjm_parameters.json");
  const fs::path inside = job({}, "out/summary.json");
  const std::string job_text = slurp(inside);
  r = run({"simulate", "--job", inside.string(), "-o", (dir / "out").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tarvex: error: " + (dir / "out" / "summary.json").string() +
                       ": is one of this run's inputs; choose another output\n");
  EXPECT_EQ(slurp(inside), job_text);

  // A FIFO (any non-regular file) is never replaced.
  ASSERT_EQ(::mkfifo((dir / "p.json").c_str(), 0600), 0);
  r = run(calibrate(dir / "market.json", dir / "p.json"));
  EXPECT_EQ(r.err, "tarvex: error: " + (dir / "p.json").string() + ": exists and is not a regular file\n");
  EXPECT_TRUE(fs::is_fifo(dir / "p.json"));

  // A link to a folder is written through: the link stays, the folder gets the files.
  fs::create_directories(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "link");
  r = run({"simulate", "--job", job().string(), "-o", (dir / "link").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_TRUE(fs::exists(dir / "real" / "summary.json"));
  EXPECT_TRUE(leftovers(dir).empty());
}

TEST_F(tarvex_reliability, a_second_run_replaces_the_outputs_and_keeps_other_files) {
  const fs::path out = dir / "out";
  ASSERT_EQ(run({"simulate", "--job", job().string(), "-o", out.string()}).status, 0);
  std::ofstream(out / "notes.txt") << "mine\n";
  const auto first = contents(out);
  ASSERT_EQ(run({"simulate", "--job", job([](json& j) { j["random"]["seed"] = 7; }).string(), "-o", out.string()})
                .status,
            0);
  const auto second = contents(out);
  EXPECT_EQ(second.at("notes.txt"), "mine\n");
  EXPECT_NE(second.at("martingale.csv"), first.at("martingale.csv"));
  EXPECT_EQ(second.size(), first.size());
  EXPECT_TRUE(leftovers(dir).empty());
  // Run from inside the output folder, which must survive (it is the shell's).
  const auto r = run({"simulate", "--job", job().string(), "-o", "."}, "cd '" + out.string() + "' &&");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(contents(out).at("notes.txt"), "mine\n");
  EXPECT_EQ(contents(out).at("martingale.csv"), first.at("martingale.csv"));
}

// Ctrl-C and SIGTERM during a run remove the staging folder, and the old outputs stay.
TEST_F(tarvex_reliability, interrupted_runs_leave_no_staging_folder) {
  const fs::path out = dir / "out";
  ASSERT_EQ(run({"simulate", "--job", job().string(), "-o", out.string()}).status, 0);
  const auto before = contents(out);
  const fs::path slow = job([](json& j) {
    j["simulation_dates"] = {{"step", "1W"}, {"horizon", "30Y"}};
    j["random"]["paths_per_batch"] = 2000;
    j["random"]["batches"] = 40;
  });
  for (const int signal_number : {SIGINT, SIGTERM}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::execl(TARVEX_EXECUTABLE, "tarvex", "simulate", "--job", slow.c_str(), "-o", out.c_str(), "--threads", "1",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 400 && leftovers(dir).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_FALSE(leftovers(dir).empty()) << "the run never staged its outputs";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(child, signal_number);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << signal_number;
    EXPECT_EQ(contents(out), before);
  }
}

// strace, with LeakSanitizer off in sanitizer builds: it cannot run under ptrace.
const std::string strace = "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" strace";

// kill -9 at each rename or exchange of the commit (strace's fault injection): the
// folder holds every old output or every new one, never a mixture, and the next run
// clears what the killed one left.
TEST_F(tarvex_reliability, killed_at_any_rename_the_folder_is_all_old_or_all_new) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  const fs::path out = dir / "out", fresh = dir / "fresh";
  const fs::path old_job = job(), new_job = job([](json& j) { j["random"]["seed"] = 7; }, "new_job.json");
  ASSERT_EQ(run({"simulate", "--job", new_job.string(), "-o", fresh.string()}).status, 0);
  const auto new_files = contents(fresh);
  for (int n = 1;; ++n) {
    fs::remove_all(out);
    ASSERT_EQ(run({"simulate", "--job", old_job.string(), "-o", out.string()}).status, 0);
    const auto old_files = contents(out);
    const std::string inject = strace + " -f -o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename,renameat,"
                               "renameat2:signal=KILL:when=" + std::to_string(n);
    const auto r = run({"simulate", "--job", new_job.string(), "-o", out.string()}, inject);
    const auto now = contents(out);
    EXPECT_TRUE(now == old_files || now == new_files) << "killed at rename " << n;
    if (r.status == 0) {
      EXPECT_EQ(now, new_files);
      EXPECT_GT(n, 1) << "no rename was interrupted";
      break;
    }
    ASSERT_LT(n, 20) << r.err;
    // The next run on the target removes the staging folder of the killed one.
    ASSERT_EQ(run({"simulate", "--job", old_job.string(), "-o", out.string()}).status, 0);
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << n;
  }
}

// Success is reported only after the files, the staging folder and, after the swap,
// the parent folder are on disk.
TEST_F(tarvex_reliability, outputs_are_synced_before_and_after_the_swap) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  const fs::path out = dir / "out", log = dir / "strace.txt";
  ASSERT_EQ(run({"simulate", "--job", job().string(), "-o", out.string()}).status, 0);
  const auto r = run({"simulate", "--job", job().string(), "-o", out.string()},
                     strace + " -f -o '" + log.string() + "' -e trace=fsync,rename,renameat,renameat2");
  ASSERT_EQ(r.status, 0) << r.err;
  std::size_t before = 0, after = 0, swaps = 0;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find("rename") != std::string::npos && line.find("RENAME_EXCHANGE") != std::string::npos) ++swaps;
    // A call interrupted by another thread's ends on a "<... fsync resumed>" line.
    if (line.find("fsync") != std::string::npos && line.find("= 0") != std::string::npos) ++(swaps ? after : before);
  }
  EXPECT_EQ(swaps, 1u);
  EXPECT_GE(before, 4u);  // martingale.csv, zero_rate_quantiles.csv, summary.json, the staging folder
  EXPECT_GE(after, 1u);   // the parent folder
}

}  // namespace
