#pragma once
#include <string>
#include <string_view>

namespace tarvex {

// A period such as "3M" or "10Y": a signed count of days, weeks, months or years.
class tenor {
 public:
  enum class unit { days, weeks, months, years };

  // Zero days.
  tenor() = default;
  // `count` units; any sign.
  tenor(int count, unit u) : count_(count), unit_(u) {}
  // Parses "1D", "2W", "3M", "-10y": an optional '-', digits, then D, W, M or Y in either case.
  tenor(std::string_view text);
  // Replaces the value by the parsed text.
  tenor& operator=(std::string_view text);

  // The signed count.
  int count() const { return count_; }
  // The unit of the count.
  unit units() const { return unit_; }
  // Canonical upper-case text, e.g. "10Y".
  std::string to_string() const;

  bool operator==(const tenor&) const = default;

 private:
  int count_ = 0;
  unit unit_ = unit::days;
};

}  // namespace tarvex
