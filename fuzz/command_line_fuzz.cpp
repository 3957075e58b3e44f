// The command line's readers: market, simulation job, calibration settings and
// targets, parameter files and correlation files. Errors are expected (the command
// line prints them); crashes, sanitizer reports, hangs and runaway memory are findings.
#include <cstdint>
#include <exception>

#include "fuzz_support.h"
#include "hjm_calibration.h"
#include "library_file.h"
#include "market_file.h"
#include "simulation_job.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex::app;
  if (size < 1) return 0;
  const std::string file = tarvex::fuzz::as_file(data + 1, size - 1, "input.json");
  try {
    switch (data[0] % 6) {
      case 0: (void)read_market(file); break;
      case 1: (void)read_simulation_job(file); break;
      case 2: (void)read_settings(file); break;
      case 3: (void)read_targets(file); break;
      case 4: (void)read_library_file<tarvex::parameter_markovian_hjm>(file, "Markovian HJM parameters"); break;
      default: (void)read_correlation(file); break;
    }
  } catch (const std::exception&) {
  }
  return 0;
}
