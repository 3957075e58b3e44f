// The compactor summary against exact order statistics: exact while small, every rank
// within the certified error once compacted (ties, sorted input, merges built on other
// threads), the a priori bound, and the refusals.
#include "Math/quantile_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Core/tests/testing.h"

namespace tarvex {
namespace {

// Type 7 on a sorted copy, written independently of the summary.
double type7(std::vector<double> x, double q) {
  std::sort(x.begin(), x.end());
  const double h = static_cast<double>(x.size() - 1) * q;
  const auto lo = static_cast<std::size_t>(h);
  return lo + 1 >= x.size() ? x.back() : x[lo] + (h - static_cast<double>(lo)) * (x[lo + 1] - x[lo]);
}

struct data_set {
  std::string name;
  std::vector<double> values;
};

std::vector<data_set> data_sets(std::size_t n) {
  std::mt19937_64 rng(20261207);
  std::normal_distribution<double> normal;
  std::vector<data_set> sets{{"normal", {}}, {"ten ties", {}}, {"ascending", {}}, {"descending", {}}, {"equal", {}}};
  for (std::size_t i = 0; i < n; ++i) {
    sets[0].values.push_back(normal(rng));
    sets[1].values.push_back(static_cast<double>(rng() % 10));
    sets[2].values.push_back(static_cast<double>(i));
    sets[3].values.push_back(-static_cast<double>(i));
    sets[4].values.push_back(1.5);
  }
  return sets;
}

// Every tested rank r: the ranks the returned value spans among the sorted input
// (ties span several) come within rank_error() of r.
void expect_ranks_within_bound(const quantile_summary& s, std::vector<double> x, const std::string& label) {
  std::sort(x.begin(), x.end());
  const std::uint64_t n = x.size(), e = s.rank_error();
  ASSERT_EQ(s.count(), n) << label;
  double signed_sum = 0.0;
  std::size_t tested = 0;
  for (std::uint64_t r = 0; r < n; r += std::max<std::uint64_t>(1, n / 997)) {
    const double v = s.value_at_rank(r);
    const auto below = static_cast<std::uint64_t>(std::lower_bound(x.begin(), x.end(), v) - x.begin());
    const auto upto = static_cast<std::uint64_t>(std::upper_bound(x.begin(), x.end(), v) - x.begin());
    ASSERT_LT(below, upto) << label << ": " << v << " is not among the values";
    EXPECT_LE(below, r + e) << label << " rank " << r << " error " << e;
    EXPECT_GE(upto + e, r + 1) << label << " rank " << r << " error " << e;
    if (upto == below + 1) {  // a value of its own: its rank is one number
      signed_sum += static_cast<double>(below) - static_cast<double>(r);
      ++tested;
    }
  }
  // The two kinds of compaction offset: on average the ranks are not pushed one way
  // (alternating per level alone, every summary starts the same way and the merged ones
  // are pushed by up to half their bound here).
  if (tested > 0) {
    EXPECT_LE(std::fabs(signed_sum / static_cast<double>(tested)), static_cast<double>(e) / 8) << label;
  }
  EXPECT_EQ(s.value_at_rank(0), x.front()) << label;
  EXPECT_EQ(s.value_at_rank(n - 1), x.back()) << label;
}

TEST(quantile_summary, is_exact_type_7_until_a_level_overflows) {
  const std::vector<double> probabilities{0.0, 0.01, 0.05, 0.3, 0.5, 0.95, 0.99, 1.0};
  for (std::size_t n : {1u, 2u, 3u, 7u, 64u}) {
    for (const auto& d : data_sets(n)) {
      quantile_summary s(64);
      s.add(d.values.data(), d.values.size());
      ASSERT_EQ(s.rank_error(), 0u) << d.name << " " << n;
      const auto got = s.quantiles(probabilities);
      for (std::size_t i = 0; i < probabilities.size(); ++i)
        EXPECT_EQ(got[i], type7(d.values, probabilities[i])) << d.name << " n " << n << " q " << probabilities[i];
    }
  }
  quantile_summary s(64);
  const std::vector<double> x{3.0, 1.0, 2.0};
  s.add(x.data(), 2);
  s.add(x.data() + 2, 1);
  EXPECT_EQ(s.quantiles({0.25, 0.75}), (std::vector<double>{1.5, 2.5}));
  quantile_summary r(8);  // R: quantile(c(1, 2, 3, 4, 10), c(0.05, 0.9)) = 1.2, 7.6
  const std::vector<double> y{10.0, 4.0, 3.0, 2.0, 1.0};
  r.add(y.data(), y.size());
  const auto q = r.quantiles({0.05, 0.9});
  EXPECT_DOUBLE_EQ(q[0], 1.2);
  EXPECT_DOUBLE_EQ(q[1], 7.6);
}

TEST(quantile_summary, compacted_ranks_stay_within_the_certified_bound) {
  const std::size_t n = 100000;
  for (std::size_t capacity : {16u, 256u}) {
    for (const auto& d : data_sets(n)) {
      quantile_summary s(capacity);
      // Uneven chunks, as a run's batches of paths would arrive.
      for (std::size_t i = 0; i < n;) {
        const std::size_t m = std::min(n - i, 1 + (i * 7919) % 3001);
        s.add(d.values.data() + i, m);
        i += m;
      }
      const std::string label = d.name + " capacity " + std::to_string(capacity);
      EXPECT_GT(s.rank_error(), 0u) << label;
      // The a priori bound: L levels above the first, n L / (2 capacity) + 2^L.
      const auto L = static_cast<double>(std::ceil(std::log2(static_cast<double>(n) / capacity)));
      EXPECT_LE(static_cast<double>(s.rank_error()), n * L / (2.0 * capacity) + std::exp2(L)) << label;
      EXPECT_LE(s.retained(), static_cast<std::size_t>(L + 1) * capacity) << label;
      expect_ranks_within_bound(s, d.values, label);
      // The interpolated quantiles lie between the exact order statistics the bound allows.
      std::vector<double> sorted = d.values;
      std::sort(sorted.begin(), sorted.end());
      const double e = static_cast<double>(s.rank_error());
      for (double q : {0.01, 0.5, 0.99}) {
        const double h = (n - 1) * q, v = s.quantiles({q})[0];
        EXPECT_GE(v, sorted[static_cast<std::size_t>(std::max(0.0, std::floor(h) - e))]) << label << " q " << q;
        EXPECT_LE(v, sorted[static_cast<std::size_t>(std::min(n - 1.0, std::floor(h) + 1 + e))]) << label << " q " << q;
      }
    }
  }
}

TEST(quantile_summary, merges_of_summaries_built_on_other_threads_are_bounded_and_reproducible) {
  const std::size_t n = 60000, parts = 6, capacity = 128;
  const auto sets = data_sets(n);
  for (const auto& d : sets) {
    std::vector<quantile_summary> partial(parts, quantile_summary(capacity));
    std::vector<std::thread> threads;
    for (std::size_t p = 0; p < parts; ++p)
      threads.emplace_back([&, p] { partial[p].add(d.values.data() + p * n / parts, n / parts); });
    for (auto& t : threads) t.join();
    // In part order, and as a tree ((0 1) (2 3)) (4 5): both bounded, each reproducible.
    quantile_summary folded(capacity), tree(capacity), again(capacity);
    for (const auto& p : partial) folded.merge(p);
    std::vector<quantile_summary> pairs(3, quantile_summary(capacity));
    for (std::size_t p = 0; p < parts; ++p) pairs[p / 2].merge(partial[p]);
    pairs[0].merge(pairs[1]);
    tree.merge(pairs[0]);
    tree.merge(pairs[2]);
    for (std::size_t p = 0; p < parts; ++p) {
      quantile_summary serial(capacity);
      serial.add(d.values.data() + p * n / parts, n / parts);
      again.merge(serial);
    }
    expect_ranks_within_bound(folded, d.values, d.name + " folded");
    expect_ranks_within_bound(tree, d.values, d.name + " tree");
    const std::vector<double> q{0.0, 0.01, 0.5, 0.99, 1.0};
    EXPECT_EQ(folded.quantiles(q), again.quantiles(q)) << d.name;
    EXPECT_EQ(folded.rank_error(), again.rank_error()) << d.name;
  }
  // Merging empty summaries, or into one, changes nothing.
  quantile_summary empty(capacity), one(capacity);
  one.add(sets[0].values.data(), 1000);
  const auto before = one.quantiles({0.1, 0.9});
  one.merge(empty);
  empty.merge(one);
  EXPECT_EQ(one.quantiles({0.1, 0.9}), before);
  EXPECT_EQ(empty.quantiles({0.1, 0.9}), before);
}

TEST(quantile_summary, refusals_name_the_numbers) {
  using testing::error_text;
  EXPECT_EQ(error_text([] { quantile_summary s(1); }), "quantile_summary: capacity must be at least 2, got 1");
  quantile_summary s(8);
  EXPECT_EQ(error_text([&] { s.quantiles({0.5}); }), "quantile_summary: quantiles of no values");
  const std::vector<double> x{1.0, std::nan("")};
  EXPECT_EQ(error_text([&] { s.add(x.data(), 2); }), "quantile_summary: NaN among the values, at index 1");
  EXPECT_EQ(s.count(), 0u);
  EXPECT_EQ(error_text([&] { s.merge(quantile_summary(4)); }), "quantile_summary: merging summaries of capacities 8 and 4");
  s.add(x.data(), 1);
  EXPECT_EQ(error_text([&] { s.value_at_rank(1); }), "quantile_summary: rank 1 of 1 values");
}

}  // namespace
}  // namespace tarvex
