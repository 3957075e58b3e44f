#include "Core/warning.h"

#include <atomic>
#include <mutex>
#include <set>

#include "Core/logger.h"

namespace tarvex {
namespace {
std::atomic<unsigned long long> warnings{0};
std::mutex seen_mutex;
std::set<std::string>& seen() {
  static std::set<std::string> s;
  return s;
}
}  // namespace

void Warning::warn(const SourceLocation& location, const std::string& message, bool once) {
  if (once) {
    std::lock_guard lock(seen_mutex);
    if (!seen().insert(location.file + ":" + std::to_string(location.line) + ":" + message).second) return;
  }
  warnings.fetch_add(1, std::memory_order_relaxed);
  logger::Log(static_cast<int>(verbosity::warning), location.file.c_str(), location.line,
              location.function + ": " + message);
}

unsigned long long Warning::count() noexcept { return warnings.load(); }

}  // namespace tarvex
