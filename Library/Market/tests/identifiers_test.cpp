#include <gtest/gtest.h>

#include <memory>
#include <unordered_set>

#include "Core/error.h"
#include "Core/tests/testing.h"
#include "Market/any_container.h"
#include "Market/default_id.h"
#include "Market/discount_id.h"
#include "Market/equity_spot.h"

namespace tarvex {
namespace {

std::shared_ptr<const discount_id> curve_id(const char* ccy, const char* name) {
  return std::make_shared<const discount_id>(discount_definition(name), currency(ccy));
}

TEST(discount_id, equality_hash_and_text_follow_content) {
  auto a = curve_id("USD", "OIS"), b = curve_id("USD", "OIS"), c = curve_id("EUR", "OIS"),
       d = curve_id("USD", "SOFR");
  EXPECT_TRUE(*a == *b);
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(*a == *c);
  EXPECT_FALSE(*a == *d);
  EXPECT_NE(a->hash(), c->hash());
  EXPECT_NE(a->hash(), d->hash());
  EXPECT_EQ(a->to_string(), "USD.OIS");
  EXPECT_TRUE(a->ccy() == b->ccy());
  // Different kinds never compare equal, whatever their content.
  default_id credit("OIS", currency("USD"), "SNRFOR", "XR14");
  EXPECT_FALSE(static_cast<const data_id&>(*a) == credit);
  EXPECT_EQ(credit.to_string(), "OIS.USD.SNRFOR.XR14.2014");
}

TEST(currency, refuses_codes_that_are_not_iso) {
  for (const char* bad : {"usd", "US", "USDX", ""}) EXPECT_THROW(currency{bad}, Error);
  EXPECT_THROW(discount_definition{""}, Error);
  EXPECT_THROW(default_id("X", currency("USD"), "SNRFOR", "XR14", 1999), Error);
}

TEST(any_container, keys_by_identifier_content) {
  any_container container;
  container.add(any_id(curve_id("USD", "OIS")), std::make_shared<const equity_spot>(datetime(46000), 10.0));
  EXPECT_TRUE(container.contains(any_id(curve_id("USD", "OIS"))));
  EXPECT_FALSE(container.contains(any_id(curve_id("EUR", "OIS"))));
  const auto& data = container.get(any_id(curve_id("USD", "OIS")));
  EXPECT_EQ(std::dynamic_pointer_cast<const equity_spot>(std::get<0>(data))->spot(), 10.0);
  // Replacing keeps one entry.
  container.add(any_id(curve_id("USD", "OIS")), std::make_shared<const equity_spot>(datetime(46000), 11.0));
  EXPECT_EQ(container.size(), 1u);
  EXPECT_EQ(testing::error_text([&] { container.get(any_id(curve_id("EUR", "OIS"))); }),
            "'EUR.OIS' is not in the container");
  EXPECT_THROW((void)std::get<2>(container.get(any_id(curve_id("USD", "OIS")))), std::bad_variant_access);
  EXPECT_THROW(any_id(std::shared_ptr<const market_data_id>()), Error);
}

}  // namespace
}  // namespace tarvex
