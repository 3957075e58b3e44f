#include "output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "input_error.h"
#include "json_input.h"

namespace tarvex::app {
namespace fs = std::filesystem;

namespace {

// --- cleaning up on SIGINT and SIGTERM -------------------------------------------
// The handler may only make system calls: the paths to remove sit in fixed buffers,
// claimed and released with atomics, and a staging folder (flat: the command writes
// no subfolders) is emptied with getdents64 and unlinkat.
struct pending_path {
  std::atomic<bool> claimed{false};  // by a run, for its staging path
  std::atomic<bool> armed{false};    // the path is complete: the handler may use it
  bool folder = false;
  char path[4096] = {};
};
std::array<pending_path, 8> pending;

void remove_now(const pending_path& p) {
  if (!p.folder) {
    ::unlink(p.path);
    return;
  }
  const int fd = ::open(p.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        struct entry {
          ino64_t ino;
          off64_t off;
          unsigned short reclen;
          unsigned char type;
          char name[1];
        };
        const auto* e = reinterpret_cast<const entry*>(buffer + at);
        const bool dots = e->name[0] == '.' && (e->name[1] == 0 || (e->name[1] == '.' && e->name[2] == 0));
        if (!dots) ::unlinkat(fd, e->name, 0);
        at += e->reclen;
      }
    }
    ::close(fd);
  }
  ::rmdir(p.path);
}

extern "C" void remove_pending_and_reraise(int signal_number) {
  for (auto& p : pending)
    if (p.armed) remove_now(p);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Registers `path` for removal should the run be interrupted; returns the slot.
int remember(const fs::path& path, bool folder) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return true;
  }();
  (void)installed;
  const std::string text = path.string();
  if (text.size() >= sizeof(pending_path::path)) return -1;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    auto& p = pending[i];
    bool expected = false;
    if (!p.claimed.compare_exchange_strong(expected, true)) continue;
    std::memcpy(p.path, text.c_str(), text.size() + 1);
    p.folder = folder;
    p.armed = true;
    return static_cast<int>(i);
  }
  return -1;
}

void forget(int slot) {
  if (slot < 0) return;
  pending[static_cast<std::size_t>(slot)].armed = false;
  pending[static_cast<std::size_t>(slot)].claimed = false;
}

// --- paths -----------------------------------------------------------------------

// A symbolic link is followed to where it points (written through), chains included.
fs::path resolved(const fs::path& target) {
  fs::path p = fs::absolute(target).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = (to.is_absolute() ? to : p.parent_path() / to).lexically_normal();
  }
  return p;
}

std::string beside_name(const fs::path& target, const char* what) {
  return "." + target.filename().string() + "." + what + "-";
}

fs::path beside(const fs::path& target, const char* what) {
  return target.parent_path() / (beside_name(target, what) + std::to_string(::getpid()));
}

// Staging folders of runs killed outright (their process is gone) are removed.
void remove_abandoned(const fs::path& target, const char* what) {
  std::error_code ec;
  const std::string prefix = beside_name(target, what);
  for (const auto& e : fs::directory_iterator(target.parent_path(), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), ec);
  }
}

// fsync of a file or folder; false on failure.
bool synced(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

[[noreturn]] void cannot_write(const fs::path& shown, const std::string& reason) {
  throw input_error(shown.string() + ": cannot write (" + reason + ")");
}

void refuse_input(const fs::path& shown, const fs::path& file) {
  if (is_input_file(file.string()))
    throw input_error(shown.string() + ": is one of this run's inputs; choose another output");
}

// Entries of the old folder that the run does not write are kept: hard links when
// the file system allows them, copies otherwise.
std::error_code carry_over(const fs::path& old_folder, const fs::path& staging) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(old_folder, ec)) {
    const fs::path to = staging / e.path().filename();
    if (fs::exists(fs::symlink_status(to, ec))) continue;
    fs::copy(e.path(), to,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::create_hard_links, ec);
    if (ec) {
      fs::remove_all(to, ec);
      fs::copy(e.path(), to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
      if (ec) return ec;
    }
  }
  return ec;
}

}  // namespace

output_folder::output_folder(const fs::path& target)
    : shown_(target), target_(resolved(target)), staging_(beside(target_, "partial")) {
  std::error_code ec;
  if (fs::exists(target_, ec) && !fs::is_directory(target_, ec))
    throw input_error(shown_.string() + ": exists and is not a folder");
  remove_abandoned(target_, "partial");
  fs::remove_all(staging_, ec);
  fs::create_directories(staging_, ec);
  if (ec) throw input_error(shown_.string() + ": cannot create output folder (" + ec.message() + ")");
  slot_ = remember(staging_, true);
}

output_folder::~output_folder() {
  std::error_code ec;
  if (!committed_) fs::remove_all(staging_, ec);
  forget(slot_);
}

void output_folder::commit() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(staging_)) {
    refuse_input(shown_ / e.path().filename(), target_ / e.path().filename());
    if (e.is_regular_file() && !synced(e.path())) cannot_write(shown_ / e.path().filename(), std::strerror(errno));
  }
  const fs::path parent = target_.parent_path();
  if (!fs::exists(target_, ec)) {
    if (!synced(staging_)) cannot_write(shown_, std::strerror(errno));
    fs::rename(staging_, target_, ec);
    if (ec) throw input_error(shown_.string() + ": cannot create output folder (" + ec.message() + ")");
  } else {
    if (!fs::is_directory(target_, ec)) throw input_error(shown_.string() + ": exists and is not a folder");
    if (const auto kept = carry_over(target_, staging_)) cannot_write(shown_, kept.message());
    if (!synced(staging_)) cannot_write(shown_, std::strerror(errno));
    // One exchange: readers see the old folder or the new one, never a mixture. The
    // old one is left at the staging path and removed after, which must not pull the
    // working folder from under the user's shell: there the files are moved instead.
    const fs::path from_target = fs::relative(fs::current_path(ec), target_, ec);
    const bool holds_working_folder = !ec && !from_target.empty() && from_target.begin()->string() != "..";
    if (holds_working_folder) errno = EINVAL;
    if (holds_working_folder ||
        ::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0) {
      // File systems without the exchange get the files moved one by one.
      // (and a target that is a mount point)
      if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EXDEV && errno != EBUSY)
        cannot_write(shown_, std::strerror(errno));
      for (const auto& e : fs::directory_iterator(staging_)) {
        fs::rename(e.path(), target_ / e.path().filename(), ec);
        if (ec) cannot_write(shown_ / e.path().filename(), ec.message());
      }
    }
    fs::remove_all(staging_, ec);
  }
  committed_ = true;
  if (!synced(parent)) cannot_write(shown_, std::strerror(errno));
}

output_file::output_file(const fs::path& target)
    : shown_(target), target_(resolved(target)), temporary_(beside(target_, "partial")) {
  std::error_code ec;
  const auto status = fs::status(target_, ec);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw input_error(shown_.string() + ": exists and is not a regular file");
  refuse_input(shown_, target_);
  remove_abandoned(target_, "partial");
  slot_ = remember(temporary_, false);
}

output_file::~output_file() {
  std::error_code ec;
  if (!committed_) fs::remove(temporary_, ec);
  forget(slot_);
}

void output_file::commit() {
  std::error_code ec;
  refuse_input(shown_, target_);
  const auto status = fs::status(target_, ec);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw input_error(shown_.string() + ": exists and is not a regular file");
  if (!synced(temporary_)) cannot_write(shown_, std::strerror(errno));
  fs::rename(temporary_, target_, ec);
  if (ec) throw input_error(shown_.string() + ": cannot write (" + ec.message() + ")");
  committed_ = true;
  if (!synced(target_.parent_path())) cannot_write(shown_, std::strerror(errno));
}

}  // namespace tarvex::app
