#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "Core/check.h"
#include "Util/hash.h"
#include "Util/key.h"

namespace tarvex {
namespace {

TEST(hash, published_test_vectors) {
  EXPECT_EQ(fnv1a_64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a_64("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(fnv1a_64("foobar"), 0x85944171f73967e8ULL);
  // The first output of the splitmix64 generator seeded with 0.
  EXPECT_EQ(mix64(0x9e3779b97f4a7c15ULL), 0xe220a8397b1dcdafULL);
  EXPECT_EQ(hash_combine(0, 0), 0xe220a8397b1dcdafULL);
}

TEST(key, text_comparison_and_hash) {
  const key a("EUR.ESTR");
  const key b(std::string("USD.SOFR"));
  key c;
  EXPECT_TRUE(c.empty());
  c = std::string("EUR.ESTR");
  EXPECT_FALSE(c.empty());
  EXPECT_EQ(a, c);
  EXPECT_EQ(a.to_string(), "EUR.ESTR");
  EXPECT_LT(a, b);
  EXPECT_EQ(a.hash(), c.hash());
  EXPECT_EQ(a.hash(), key::hash(a, 0));
  EXPECT_EQ(a.hash(), hash_combine(0, fnv1a_64("EUR.ESTR")));
  EXPECT_NE(a.hash(), b.hash());
  EXPECT_EQ(std::hash<key>{}(a), static_cast<std::size_t>(a.hash()));

  EXPECT_NE(key::hash(a, 1), key::hash(a, 2));
  EXPECT_NE(key::hash(a, 1), a.hash());
  // Folding is ordered: (a, b) and (b, a) differ, and so do "ab" and ("a", "b").
  EXPECT_NE(key::hash(b, key::hash(a, 0)), key::hash(a, key::hash(b, 0)));
  EXPECT_NE(key("ab").hash(), key::hash(key("b"), key::hash(key("a"), 0)));
  EXPECT_NE(key("").hash(), key::hash(key(""), key("").hash()));

  const std::unordered_set<key> set{a, b, c};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.count(key("USD.SOFR")), 1u);
  EXPECT_THROW(key(static_cast<const char*>(nullptr)), Error);
}

}  // namespace
}  // namespace tarvex
