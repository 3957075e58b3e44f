#include "Util/tenor.h"

#include <charconv>

#include "Core/check.h"

namespace tarvex {
namespace {

bool parse(std::string_view text, int& count, tenor::unit& u) {
  if (text.size() < 2) return false;
  switch (text.back()) {
    case 'D': case 'd': u = tenor::unit::days; break;
    case 'W': case 'w': u = tenor::unit::weeks; break;
    case 'M': case 'm': u = tenor::unit::months; break;
    case 'Y': case 'y': u = tenor::unit::years; break;
    default: return false;
  }
  const std::string_view number = text.substr(0, text.size() - 1);
  // from_chars accepts a leading '-' but not '+' or blanks, which is the grammar wanted;
  // a lone "-" or an overflowing count fails here too.
  const char* end = number.data() + number.size();
  const auto r = std::from_chars(number.data(), end, count);
  return r.ec == std::errc() && r.ptr == end;
}

}  // namespace

tenor::tenor(std::string_view text) { *this = text; }

tenor& tenor::operator=(std::string_view text) {
  int count = 0;
  unit u = unit::days;
  TARVEX_CHECK_TEXT(parse(text, count, u), "invalid tenor \"", text,
                    "\": expected a count followed by D, W, M or Y");
  count_ = count;
  unit_ = u;
  return *this;
}

std::string tenor::to_string() const {
  static constexpr char letters[] = {'D', 'W', 'M', 'Y'};
  return std::to_string(count_) + letters[static_cast<int>(unit_)];
}

}  // namespace tarvex
