#include "Math/quantile_summary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include "Core/check.h"

namespace tarvex {
namespace {

// The values held with their weights, sorted by value, and the running weights.
struct weighted_values {
  std::vector<double> values;
  std::vector<std::uint64_t> upto;  // upto[i]: total weight of values[0 .. i]

  double at_rank(std::uint64_t r) const {
    const auto i = std::upper_bound(upto.begin(), upto.end(), r) - upto.begin();
    return values[static_cast<std::size_t>(i)];
  }
};

double interpolate(double lo, double hi, double fraction) { return lo + fraction * (hi - lo); }

// Sorts doubles (no NaN) by LSD radix over 11-bit digits of an order-preserving map to
// unsigned keys, skipping the digits all keys share: several times std::sort's speed on
// the thousands of values a compaction sorts, which dominate a large run's summaries.
void radix_sort(std::vector<double>& values) {
  const std::size_t n = values.size();
  auto key_buffer = std::make_unique_for_overwrite<std::uint64_t[]>(n);
  auto other_buffer = std::make_unique_for_overwrite<std::uint64_t[]>(n);
  std::uint64_t* keys = key_buffer.get();
  std::uint64_t* other = other_buffer.get();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    // Negatives reverse their order with all bits flipped; positives move above them.
    keys[i] = bits >> 63 ? ~bits : bits | (std::uint64_t{1} << 63);
  }
  constexpr int digit_bits = 11, digits = 6;
  constexpr std::size_t radix = std::size_t{1} << digit_bits;
  std::vector<std::size_t> counts(digits * radix, 0);
  for (std::size_t i = 0; i < n; ++i)
    for (int d = 0; d < digits; ++d) ++counts[d * radix + ((keys[i] >> (d * digit_bits)) & (radix - 1))];
  for (int d = 0; d < digits; ++d) {
    std::size_t* count = counts.data() + d * radix;
    if (count[(keys[0] >> (d * digit_bits)) & (radix - 1)] == n) continue;  // one value of this digit
    std::size_t total = 0;
    for (std::size_t b = 0; b < radix; ++b) total += std::exchange(count[b], total);
    for (std::size_t i = 0; i < n; ++i) other[count[(keys[i] >> (d * digit_bits)) & (radix - 1)]++] = keys[i];
    std::swap(keys, other);
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t bits = keys[i] >> 63 ? keys[i] & ~(std::uint64_t{1} << 63) : ~keys[i];
    std::memcpy(&values[i], &bits, sizeof bits);
  }
}

}  // namespace

quantile_summary::quantile_summary(std::size_t capacity) : capacity_(capacity) {
  TARVEX_CHECK_TEXT(capacity >= 2, "quantile_summary: capacity must be at least 2, got ", capacity);
  levels_.resize(1);
  down_.resize(1);
  up_.resize(1);
}

void quantile_summary::add(const double* values, std::size_t n) {
  if (n == 0) return;
  double lo = values[0], hi = values[0];
  for (std::size_t i = 0; i < n; ++i) {
    TARVEX_CHECK_TEXT(!std::isnan(values[i]), "quantile_summary: NaN among the values, at index ", i);
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  min_ = count_ == 0 ? lo : std::min(min_, lo);
  max_ = count_ == 0 ? hi : std::max(max_, hi);
  count_ += n;
  levels_[0].insert(levels_[0].end(), values, values + n);
  compact_full_levels();
}

void quantile_summary::merge(const quantile_summary& other) {
  TARVEX_CHECK_TEXT(other.capacity_ == capacity_, "quantile_summary: merging summaries of capacities ", capacity_,
                    " and ", other.capacity_);
  if (other.count_ == 0) return;
  min_ = count_ == 0 ? other.min_ : std::min(min_, other.min_);
  max_ = count_ == 0 ? other.max_ : std::max(max_, other.max_);
  count_ += other.count_;
  if (levels_.size() < other.levels_.size()) {
    levels_.resize(other.levels_.size());
    down_.resize(other.levels_.size(), 0);
    up_.resize(other.levels_.size(), 0);
  }
  for (std::size_t h = 0; h < other.levels_.size(); ++h) {
    auto& mine = levels_[h];
    const auto& theirs = other.levels_[h];
    const auto middle = static_cast<std::ptrdiff_t>(mine.size());
    mine.insert(mine.end(), theirs.begin(), theirs.end());
    if (h > 0) std::inplace_merge(mine.begin(), mine.begin() + middle, mine.end());
    down_[h] += other.down_[h];
    up_[h] += other.up_[h];
  }
  compact_full_levels();
}

void quantile_summary::compact_full_levels() {
  for (std::size_t h = 0; h < levels_.size(); ++h)
    if (levels_[h].size() > capacity_) compact(h);
}

void quantile_summary::compact(std::size_t h) {
  if (h + 1 == levels_.size()) {
    levels_.emplace_back();
    down_.push_back(0);
    up_.push_back(0);
  }
  std::vector<double> level = std::move(levels_[h]);
  if (h == 0) {
    if (level.size() < 512)
      std::sort(level.begin(), level.end());
    else
      radix_sort(level);
  }
  // The largest value stays behind when the count is odd; the pairs below it move.
  const std::size_t pairs = level.size() / 2;
  // The error lies within [-(downward weight), +(upward weight)]: move the way that
  // keeps the larger of the two smallest, so the two kinds of error offset.
  std::uint64_t down_weight = 0, up_weight = 0;
  for (std::size_t l = 0; l < levels_.size(); ++l) {
    down_weight += down_[l] << l;
    up_weight += up_[l] << l;
  }
  const bool down = down_weight <= up_weight;
  (down ? down_[h] : up_[h]) += 1;
  // The promoted values overwrite the front of the sorted level in place.
  for (std::size_t i = 0; i < pairs; ++i) level[i] = level[2 * i + (down ? 1 : 0)];
  levels_[h].assign(level.begin() + static_cast<std::ptrdiff_t>(2 * pairs), level.end());

  auto& up = levels_[h + 1];
  std::vector<double> merged;  // a fresh buffer: a level never holds on to its peak size
  merged.reserve(up.size() + pairs);
  std::merge(up.begin(), up.end(), level.begin(), level.begin() + static_cast<std::ptrdiff_t>(pairs),
             std::back_inserter(merged));
  up = std::move(merged);
}

std::size_t quantile_summary::retained() const {
  std::size_t n = 0;
  for (const auto& l : levels_) n += l.size();
  return n;
}

std::uint64_t quantile_summary::rank_error() const {
  std::uint64_t down = 0, up = 0;
  for (std::size_t h = 0; h < levels_.size(); ++h) {
    down += down_[h] << h;
    up += up_[h] << h;
  }
  return std::max(down, up);
}

namespace {

weighted_values sorted_with_weights(const std::vector<std::vector<double>>& levels) {
  std::vector<std::pair<double, std::uint64_t>> items;
  for (std::size_t h = 0; h < levels.size(); ++h)
    for (double v : levels[h]) items.emplace_back(v, std::uint64_t{1} << h);
  std::sort(items.begin(), items.end());
  weighted_values w;
  std::uint64_t total = 0;
  for (const auto& [v, weight] : items) {
    w.values.push_back(v);
    w.upto.push_back(total += weight);
  }
  return w;
}

}  // namespace

double quantile_summary::value_at_rank(std::uint64_t r) const {
  TARVEX_CHECK_TEXT(r < count_, "quantile_summary: rank ", r, " of ", count_, " values");
  if (r == 0) return min_;
  if (r + 1 == count_) return max_;
  return sorted_with_weights(levels_).at_rank(r);
}

std::vector<double> quantile_summary::quantiles(const std::vector<double>& probabilities) const {
  TARVEX_CHECK_TEXT(count_ > 0, "quantile_summary: quantiles of no values");
  std::vector<double> out;
  const std::uint64_t n = count_;
  if (rank_error() == 0 && levels_.size() == 1) {
    // Exact: select rather than sort, each search right of the previous one.
    std::vector<double> v = levels_[0];
    std::size_t from = 0;
    for (double q : probabilities) {
      const double h = static_cast<double>(n - 1) * q;
      const std::size_t lo = std::min<std::size_t>(n - 1, static_cast<std::size_t>(std::floor(h)));
      std::nth_element(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(lo),
                       v.end());
      from = lo;
      if (lo + 1 >= n) {
        out.push_back(v[lo]);
        continue;
      }
      const double next = *std::min_element(v.begin() + static_cast<std::ptrdiff_t>(lo + 1), v.end());
      out.push_back(interpolate(v[lo], next, h - static_cast<double>(lo)));
    }
    return out;
  }
  const weighted_values w = sorted_with_weights(levels_);
  const auto at = [&](std::uint64_t r) { return r == 0 ? min_ : r + 1 == n ? max_ : w.at_rank(r); };
  for (double q : probabilities) {
    const double h = static_cast<double>(n - 1) * q;
    const std::uint64_t lo = std::min<std::uint64_t>(n - 1, static_cast<std::uint64_t>(std::floor(h)));
    out.push_back(lo + 1 >= n ? at(lo) : interpolate(at(lo), at(lo + 1), h - static_cast<double>(lo)));
  }
  return out;
}

}  // namespace tarvex
