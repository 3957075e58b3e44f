#pragma once
#include <string>

namespace tarvex {

// `text` centred in a field of `width` (extra blank on the right); longer text unchanged.
std::string center(const std::string& text, int width);
// Fixed-point `value` with `precision` decimals, right-aligned in `width`.
std::string to_string(double value, int width, int precision);

}  // namespace tarvex
