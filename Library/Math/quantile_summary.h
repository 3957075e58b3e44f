#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvex {

// A mergeable summary of a stream of values for quantiles, with a certified rank error:
// a deterministic hierarchy of compactors (Manku, Rajagopalan and Lindsay 1998).
//
// Level h holds values that each stand for 2^h of the input. A level that grows past
// `capacity` values is compacted: sorted, and every other value (the even or the odd
// positions; one value stays behind when the count is odd) moves up with twice the
// weight. For any x the values at or below x form a prefix of the sorted level, so a
// compaction moves the weighted count of values <= x (and of values < x) by at most
// 2^h: down when the odd positions (the upper value of each pair) move up, never up;
// up when the even positions do, never down. The summary counts both kinds per level
// and each compaction takes the kind whose total weight is smaller, so every weighted
// count lies within rank_error() = max(total weight of downward compactions, of upward
// ones) of the true one, and the two kinds offset rather than bias the quantiles one
// way. Each compaction at level h consumes at least `capacity` values of weight 2^h
// out of n, so with L = ceil(log2(n / capacity)) levels that compact, rank_error() <=
// n L / capacity whatever the order of adds and merges, and about half that,
// n L / (2 capacity) + 2^L, for a summary filled by adds alone.
//
// Until level 0 first passes `capacity` nothing is dropped and the quantiles are the
// exact type-7 ones. Results depend on the order of adds and merges but not on
// anything else: merge in a fixed order to reproduce them.
class quantile_summary {
 public:
  // An empty summary keeping at most `capacity` (>= 2) values per level between
  // compactions.
  explicit quantile_summary(std::size_t capacity);

  // Adds n values (any order; NaN refused).
  void add(const double* values, std::size_t n);
  // Adds everything `other` summarises (built with the same capacity).
  void merge(const quantile_summary& other);

  // The number of values added, directly or through merges.
  std::uint64_t count() const { return count_; }
  std::size_t capacity() const { return capacity_; }
  // The values held, over all levels (the memory used is about 8 bytes each).
  std::size_t retained() const;
  // Bound on |estimated - true| for the number of values <= x and < x, for every x; 0
  // while the summary is exact.
  std::uint64_t rank_error() const;

  // A value whose rank among the values added (from 0, ties spanning a range of ranks)
  // is within rank_error() of r; r < count(). The smallest and largest are exact.
  double value_at_rank(std::uint64_t r) const;
  // The type-7 quantiles (ascending probabilities in [0, 1]) of the values added:
  // x[lo] + (h - lo)(x[lo + 1] - x[lo]), h = (n - 1) q, with x[r] = value_at_rank(r),
  // which is exactly R's and NumPy's default while the summary is exact. Needs count() > 0.
  std::vector<double> quantiles(const std::vector<double>& probabilities) const;

 private:
  void compact(std::size_t level);
  void compact_full_levels();

  std::size_t capacity_;
  std::uint64_t count_ = 0;
  double min_ = 0.0, max_ = 0.0;
  // levels_[0] is kept unsorted (sorted when compacted); the others stay sorted.
  std::vector<std::vector<double>> levels_;
  // Per level, compactions that moved counts down (odd positions up) and up.
  std::vector<std::uint64_t> down_, up_;
};

}  // namespace tarvex
