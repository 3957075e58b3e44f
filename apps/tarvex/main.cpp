// tarvex: the library's models on JSON files, without writing C++.
#include <malloc.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "demo_command.h"
#include "hjm_calibration.h"
#include "input_error.h"
#include "price_command.h"
#include "simulate_command.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "unknown"
#endif

namespace {

const char* help =
    "usage: tarvex <command> [options]\n"
    "\n"
    "commands:\n"
    "  calibrate hjm   fit a Markovian HJM model to swaption normal vols; writes the parameters\n"
    "  calibrate cheyette fit a one-factor Cheyette model to the swaption smiles of a vol cube\n"
    "  calibrate bk    bootstrap Black-Karasinski levels to a credit or discount curve\n"
    "  simulate        run a Monte Carlo simulation job; writes CSV files (and charts)\n"
    "  demo            calibrate the bundled sample market, simulate 20,000 paths on it\n"
    "  price swaption  price a European or Bermudan swaption by PDE on HJM parameters\n"
    "\n"
    "'tarvex <command> --help' describes a command's options; 'tarvex --version' prints\n"
    "the version. Exit status: 0 on success, 2 for a problem with the arguments or input\n"
    "files, 3 for a calibration whose fit is worse than --max-rms (nothing written), 1 for\n"
    "any other failure.\n";

// Errors are printed on one line, whatever the library put in them.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvex::app;
  // Every simulation batch allocates and frees the same working set (its quantile
  // summaries, tens of MB); by default glibc hands the freed top of each heap back and
  // the next batch faults it in again, page by page, and two threads' faults contend in
  // the kernel. Keeping freed memory mapped leaves the peak unchanged.
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  const std::vector<std::string> all(argv + 1, argv + argc);
  try {
    if (all.empty()) {
      std::cerr << help;
      throw input_error("no command given");
    }
    const std::string& command = all[0];
    const std::vector<std::string> args(all.begin() + 1, all.end());
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << help;
      return 0;
    }
    if (command == "--version") {
      std::cout << "tarvex " << TARVEX_VERSION << '\n';
      return 0;
    }
    if (command == "calibrate") return run_calibrate(args);
    if (command == "simulate") return run_simulate(args);
    if (command == "demo") return run_demo(args);
    if (command == "price") return run_price(args);
    throw input_error("unknown command '" + command + "' (see 'tarvex --help')");
  } catch (const input_error& e) {
    std::cerr << "tarvex: error: " << one_line(e.what()) << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tarvex: error: " << one_line(e.what()) << '\n';
    return 1;
  }
}
