#include "output_folder.h"

#include <system_error>
#include <unistd.h>

#include "input_error.h"

namespace tarvex::app {
namespace fs = std::filesystem;

namespace {
fs::path beside(const fs::path& target, const char* what) {
  const fs::path absolute = fs::absolute(target).lexically_normal();
  const fs::path parent = absolute.has_filename() ? absolute.parent_path() : absolute.parent_path().parent_path();
  const std::string name = absolute.has_filename() ? absolute.filename().string() : absolute.parent_path().filename().string();
  return parent / ("." + name + "." + what + "-" + std::to_string(::getpid()));
}
}  // namespace

output_folder::output_folder(const fs::path& target) : target_(target), staging_(beside(target, "partial")) {
  std::error_code ec;
  if (fs::exists(target_, ec) && !fs::is_directory(target_, ec))
    throw input_error(target_.string() + ": exists and is not a folder");
  fs::create_directories(staging_, ec);
  if (ec) throw input_error(target_.string() + ": cannot create output folder (" + ec.message() + ")");
}

output_folder::~output_folder() {
  std::error_code ec;
  if (!committed_) fs::remove_all(staging_, ec);
}

void output_folder::commit() {
  std::error_code ec;
  if (!fs::exists(target_, ec)) {
    fs::rename(staging_, target_, ec);
    if (ec) throw input_error(target_.string() + ": cannot create output folder (" + ec.message() + ")");
  } else {
    for (const auto& entry : fs::directory_iterator(staging_)) {
      fs::rename(entry.path(), target_ / entry.path().filename(), ec);
      if (ec) throw input_error((target_ / entry.path().filename()).string() + ": cannot write (" + ec.message() + ")");
    }
    fs::remove_all(staging_, ec);
  }
  committed_ = true;
}

output_file::output_file(const fs::path& target) : target_(target), temporary_(beside(target, "partial")) {}

output_file::~output_file() {
  std::error_code ec;
  if (!committed_) fs::remove(temporary_, ec);
}

void output_file::commit() {
  std::error_code ec;
  fs::rename(temporary_, target_, ec);
  if (ec) throw input_error(target_.string() + ": cannot write (" + ec.message() + ")");
  committed_ = true;
}

}  // namespace tarvex::app
