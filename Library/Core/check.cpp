#include "Core/check.h"

#include <charconv>
#include <cmath>

namespace tarvex::details {

std::string source_path(std::string_view file) {
  const auto root = file.rfind("Library/");
  if (root != std::string_view::npos) file.remove_prefix(root);
  const auto slash = file.rfind('/');
  const auto dot = file.rfind('.');
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) file = file.substr(0, dot);
  return std::string(file);
}

void check_fail(const char* function, const char* file, int line, const std::string& message) {
  throw Error(SourceLocation{function, source_path(file), line}, message);
}

void append(std::string& out, std::string_view text) { out.append(text); }
void append(std::string& out, const char* text) { out.append(text); }
void append(std::string& out, const std::string& text) { out.append(text); }
void append(std::string& out, char value) { out.push_back(value); }
void append(std::string& out, bool value) { out.append(value ? "true" : "false"); }

void append(std::string& out, double value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

void append(std::string& out, long long value) { out.append(std::to_string(value)); }
void append(std::string& out, unsigned long long value) { out.append(std::to_string(value)); }

}  // namespace tarvex::details
