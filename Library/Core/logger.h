#pragma once
#include <cstdarg>
#include <string>

namespace tarvex {

// Verbosity levels: lower is more important. Callers compare the cut-off first and
// format only when the message will be written.
enum class verbosity : int { error = 0, warning = 1, info = 2, debug = 3, trace = 4 };

struct logger {
  static int GetCurrentVerbosityCutoff() noexcept;
  static void SetVerbosityCutoff(int cutoff) noexcept;
  // Writes "[level] file:line text" to the sink when verbosity <= cut-off.
  static void Log(int verbosity, const char* file, int line, const std::string& text);
  static void LogF(int verbosity, const char* file, int line, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Replaces the sink (standard error by default); nullptr restores it.
  using sink = void (*)(int verbosity, const std::string& line);
  static void SetSink(sink s) noexcept;
};

}  // namespace tarvex
