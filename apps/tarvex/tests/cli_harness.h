#pragma once
// Shared by the end-to-end tests: each test gets a folder of its own, runs the
// executable (TARVEX_EXECUTABLE, set by the build) through the shell and reads back
// what the run printed and wrote.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::cli_testing {

namespace fs = std::filesystem;

// How a run ended: its exit status (-1 when it did not exit) and what it printed.
struct outcome {
  int status = -1;
  std::string out, err;
};

// The bytes of a file; empty when it cannot be opened.
inline std::string slurp(const fs::path& p) {
  std::stringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

// A fixture whose every test starts in an empty folder named after the suite, this
// process and the test (concurrent runs from other build trees stay apart); the folder
// goes when the test ends.
class cli_test : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() /
          (std::string(test->test_suite_name()) + "_" + std::to_string(::getpid()) + "_" + test->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs `prefix tarvex args` through the shell, each argument single-quoted; what it
  // prints passes through stdout.txt and stderr.txt in the test's folder.
  outcome run(const std::vector<std::string>& args, const std::string& prefix = "") const {
    std::string command = prefix + " '" + TARVEX_EXECUTABLE + "'";
    for (const auto& a : args) command += " '" + a + "'";
    command += " >'" + (dir / "stdout.txt").string() + "' 2>'" + (dir / "stderr.txt").string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir / "stdout.txt"), slurp(dir / "stderr.txt")};
  }

  fs::path dir;
};

}  // namespace tarvex::cli_testing
