#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "Analytics/change_of_measure/measure_id.h"
#include "Analytics/change_of_measure/measures.h"
#include "Analytics/common/simulation_helper.h"
#include "Analytics/diffusion/equity/id/diffusion_equity_id.h"
#include "Analytics/diffusion/fx/id/diffusion_fx_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"

namespace tarvex {
namespace {

std::shared_ptr<const discount_id> curve(const char* ccy) {
  return std::make_shared<const discount_id>(discount_definition("OIS"), currency(ccy));
}

std::shared_ptr<const any_container> under_measure(const char* ccy) {
  auto c = std::make_shared<any_container>();
  c->add(any_id(std::shared_ptr<const config_data_id>(std::make_shared<const measure_id>())),
         std::shared_ptr<const config_data>(std::make_shared<const measure>(curve(ccy))));
  return c;
}

bool holds(const std::vector<any_id>& ids, const std::shared_ptr<const market_data_id>& id) {
  return std::count(ids.begin(), ids.end(), any_id(id)) == 1;
}

TEST(simulation_helper, discovery_without_a_measure_asks_for_it) {
  const auto ir = std::make_shared<const diffusion_ir_id>(curve("EUR"));
  for (const auto& container : {std::make_shared<const any_container>(), std::shared_ptr<const any_container>()}) {
    const auto found = simulation_helper::discovery({ir}, container);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(found[0] == any_id(std::shared_ptr<const config_data_id>(std::make_shared<const measure_id>())));
  }
}

TEST(simulation_helper, discovery_closes_over_numeraire_fx_and_domestic_curves) {
  const auto usd = under_measure("USD");
  const auto usd_ir = std::make_shared<const diffusion_ir_id>(curve("USD"));
  const auto eur_ir = std::make_shared<const diffusion_ir_id>(curve("EUR"));

  auto found = simulation_helper::discovery({usd_ir}, usd);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(holds(found, usd_ir));

  found = simulation_helper::discovery({eur_ir}, usd);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_TRUE(holds(found, eur_ir));
  EXPECT_TRUE(holds(found, std::make_shared<const diffusion_ir_id>(curve("USD"))));
  EXPECT_TRUE(holds(found, std::make_shared<const diffusion_fx_id>(curve("USD"), curve("EUR"))));

  // An equity drags in its domestic curve; requesting equal ids twice changes nothing.
  const auto equity = std::make_shared<const diffusion_equity_id>(curve("USD"), key("ACME"));
  found = simulation_helper::discovery({equity, equity, std::make_shared<const diffusion_equity_id>(curve("USD"), key("ACME"))}, usd);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(holds(found, equity));
  EXPECT_TRUE(holds(found, usd_ir));

  // A foreign equity: its curve, the numeraire and the FX rate between them.
  const auto foreign_equity = std::make_shared<const diffusion_equity_id>(curve("EUR"), key("SAP"));
  found = simulation_helper::discovery({foreign_equity}, usd);
  EXPECT_EQ(found.size(), 4u);
  EXPECT_TRUE(holds(found, std::make_shared<const diffusion_fx_id>(curve("USD"), curve("EUR"))));
}

}  // namespace
}  // namespace tarvex
