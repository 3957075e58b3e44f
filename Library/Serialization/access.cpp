#include "Serialization/access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "Core/check.h"

namespace tarvex::serialization {
namespace {

constexpr char magic[4] = {'T', 'V', 'X', 'B'};
constexpr std::uint32_t format_version = 1;
constexpr std::size_t header_size = 4 + 4 + 8 + 8;
// Refuse files larger than this before reading them: nothing the library writes comes close.
constexpr std::uintmax_t max_file_bytes = std::uintmax_t{1} << 34;

std::uint64_t fnv1a(const unsigned char* p, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

void put64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
std::uint64_t get64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::string system_error() { return std::strerror(errno); }

void write_atomically(const std::string& path, const std::string& contents) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device rd;
  const fs::path temporary =
      folder / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  TARVEX_CHECK_TEXT(f != nullptr, path, ": cannot write file: ", system_error());
  const bool written = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  const bool flushed = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
  const bool closed = std::fclose(f) == 0;
  if (!(written && flushed && closed)) {
    const std::string reason = system_error();
    std::remove(temporary.c_str());
    TARVEX_FAIL(path, ": cannot write file: ", reason);
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string reason = system_error();
    std::remove(temporary.c_str());
    TARVEX_FAIL(path, ": cannot replace file: ", reason);
  }
  // The rename is durable only once the folder's entry is on disk.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dir >= 0 && ::fsync(dir) == 0;
  if (dir >= 0) ::close(dir);
  TARVEX_CHECK_TEXT(synced, path, ": cannot write file: ", system_error());
}

std::string read_all(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  TARVEX_CHECK_TEXT(!ec, path, ": cannot read file: ", ec.message());
  TARVEX_CHECK_TEXT(size <= max_file_bytes, path, ": file too large: ", static_cast<unsigned long long>(size),
                    " bytes");
  std::ifstream in(path, std::ios::binary);
  TARVEX_CHECK_TEXT(in.good(), path, ": cannot read file: ", system_error());
  std::string contents(static_cast<std::size_t>(size), '\0');
  in.read(contents.data(), static_cast<std::streamsize>(size));
  TARVEX_CHECK_TEXT(static_cast<std::uintmax_t>(in.gcount()) == size, path, ": cannot read file: short read");
  return contents;
}

}  // namespace

void access::write_json(const std::string& path, const nlohmann::ordered_json& document) {
  write_atomically(path, document.dump(2) + "\n");
}

void access::read_json(const std::string& path, nlohmann::ordered_json& document) {
  const std::string text = read_all(path);
  document = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  TARVEX_CHECK_TEXT(!document.is_discarded(), path, ": malformed JSON");
}

void access::write_binary(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::string contents(magic, 4);
  for (int i = 0; i < 4; ++i) contents.push_back(static_cast<char>((format_version >> (8 * i)) & 0xff));
  put64(contents, bytes.size());
  put64(contents, fnv1a(bytes.data(), bytes.size()));
  contents.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  write_atomically(path, contents);
}

void access::read_binary(const std::string& path, std::vector<unsigned char>& bytes) {
  const std::string contents = read_all(path);
  const auto* p = reinterpret_cast<const unsigned char*>(contents.data());
  TARVEX_CHECK_TEXT(contents.size() >= header_size && std::memcmp(p, magic, 4) == 0, path,
                    ": not a tarvex binary file");
  const std::uint32_t version = p[4] | (p[5] << 8) | (p[6] << 16) | (std::uint32_t{p[7]} << 24);
  TARVEX_CHECK_TEXT(version == format_version, path, ": unsupported binary format version ", version);
  const std::uint64_t length = get64(p + 8);
  TARVEX_CHECK_TEXT(length == contents.size() - header_size, path, ": truncated or oversized binary file: header says ",
                    length, " bytes, file holds ", contents.size() - header_size);
  TARVEX_CHECK_TEXT(get64(p + 16) == fnv1a(p + header_size, length), path, ": corrupt binary file (checksum mismatch)");
  bytes.assign(p + header_size, p + header_size + length);
}

}  // namespace tarvex::serialization
