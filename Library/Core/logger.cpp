#include "Core/logger.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "Core/check.h"

namespace tarvex {
namespace {
std::atomic<int> cutoff{static_cast<int>(verbosity::warning)};
std::atomic<logger::sink> current_sink{nullptr};
std::mutex write_mutex;

void write(int level, const std::string& line) {
  if (auto s = current_sink.load()) {
    s(level, line);
    return;
  }
  std::lock_guard lock(write_mutex);
  std::fprintf(stderr, "%s\n", line.c_str());
}
}  // namespace

int logger::GetCurrentVerbosityCutoff() noexcept { return cutoff.load(std::memory_order_relaxed); }
void logger::SetVerbosityCutoff(int c) noexcept { cutoff.store(c, std::memory_order_relaxed); }
void logger::SetSink(sink s) noexcept { current_sink.store(s); }

void logger::Log(int level, const char* file, int line, const std::string& text) {
  if (level > GetCurrentVerbosityCutoff()) return;
  write(level, "[" + std::to_string(level) + "] " + details::source_path(file) + ":" + std::to_string(line) + " " + text);
}

void logger::LogF(int level, const char* file, int line, const char* format, ...) {
  if (level > GetCurrentVerbosityCutoff()) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  Log(level, file, line, text);
}

}  // namespace tarvex
