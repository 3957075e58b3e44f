#pragma once
// Shared by the harnesses: inputs go through the readers' real entry points, which
// take file names, so each input is written to a file of this process first.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarvex::fuzz {

// A file holding `data` (rewritten on each call), in a folder of this process.
inline std::string as_file(const std::uint8_t* data, std::size_t size, const char* name = "input") {
  static const std::filesystem::path folder = [] {
    const auto p = std::filesystem::temp_directory_path() / ("tarvex-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  const auto path = folder / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
  return path.string();
}

// The binary file envelope around `payload` (magic, version 1, length, FNV-1a), as
// serialization::access writes it but without its sync, which would slow every run.
inline std::string binary_envelope(const std::vector<unsigned char>& payload) {
  std::string out = "TVXB";
  const auto put = [&](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  std::uint64_t h = 1469598103934665603ull;
  for (const unsigned char c : payload) h = (h ^ c) * 1099511628211ull;
  put(1, 4);
  put(payload.size(), 8);
  put(h, 8);
  out.append(payload.begin(), payload.end());
  return out;
}

// What a reader accepted must be writable: a failure here is a finding, not an input error.
template <class F>
void must_not_throw(F&& f) {
  try {
    f();
  } catch (...) {
    std::abort();
  }
}

}  // namespace tarvex::fuzz
