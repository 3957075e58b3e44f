#include "Core/string_format.h"

#include <cstdio>

namespace tarvex {

std::string center(const std::string& text, int width) {
  const int n = static_cast<int>(text.size());
  if (n >= width) return text;
  const int left = (width - n) / 2;
  return std::string(left, ' ') + text + std::string(width - n - left, ' ');
}

std::string to_string(double value, int width, int precision) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%*.*f", width, precision, value);
  if (n < static_cast<int>(sizeof buffer)) return std::string(buffer, n > 0 ? n : 0);
  std::string out(static_cast<std::size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, "%*.*f", width, precision, value);
  return out;
}

}  // namespace tarvex
