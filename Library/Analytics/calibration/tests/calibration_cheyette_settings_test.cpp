#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_cheyette_settings.h"
#include "Analytics/calibration/tests/serialization_checks.h"

namespace tarvex {
namespace {

using settings = calibration_cheyette_settings;
using testing::scratch_folder;
using json = nlohmann::ordered_json;

std::shared_ptr<const settings> make(std::vector<double> skew_bounds = {-0.5, 0.5}) {
  return std::make_shared<const settings>(std::vector<double>{0.0001, 0.05}, std::vector<double>{0.5, 0.001},
                                          skew_bounds, parameter_markovian_hjm_type::mean_reversion, /*debug=*/true,
                                          /*max_iterations=*/40, /*tolerance=*/1e-7);
}

void expect_same(const settings& a, const settings& b) {
  EXPECT_EQ(a.volatility_bounds(), b.volatility_bounds());
  EXPECT_EQ(a.decay_bounds(), b.decay_bounds());
  EXPECT_EQ(a.skew_bounds(), b.skew_bounds());
  EXPECT_EQ(a.type(), b.type());
  EXPECT_EQ(a.tolerance(), b.tolerance());
  EXPECT_EQ(a.debug(), b.debug());
  EXPECT_EQ(a.max_iterations(), b.max_iterations());
}

TEST(calibration_cheyette_settings, accessors_json_keys_and_binary_order) {
  const auto s = make();
  EXPECT_EQ(s->volatility_bounds(), (std::vector<double>{0.0001, 0.05}));
  EXPECT_EQ(s->decay_bounds(), (std::vector<double>{0.5, 0.001}));
  EXPECT_EQ(s->skew_bounds(), (std::vector<double>{-0.5, 0.5}));
  EXPECT_EQ(s->type(), parameter_markovian_hjm_type::mean_reversion);
  EXPECT_TRUE(s->debug());
  EXPECT_EQ(s->max_iterations(), 40);
  EXPECT_EQ(s->tolerance(), 1e-7);

  const auto j = json::parse(settings::json_to_string(s));
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "volatility_bounds", "decay_bounds", "skew_bounds", "type",
                                            "tolerance", "debug", "max_iterations"}));
  EXPECT_EQ(j["Class"], "tarvex::calibration_cheyette_settings");
  EXPECT_TRUE(j["type"].is_number_integer());
  EXPECT_TRUE(j["max_iterations"].is_number_integer());
  EXPECT_TRUE(j["tolerance"].is_number_float());

  scratch_folder dir;
  multi_process_stream expected;
  expected << "tarvex::calibration_cheyette_settings" << std::uint32_t{2} << 0.0001 << 0.05 << std::uint32_t{2} << 0.5
           << 0.001 << std::uint32_t{2} << -0.5 << 0.5 << std::int32_t{0} << 1e-7 << true << std::int32_t{40};
  EXPECT_EQ(testing::binary_payload(dir, s), expected.GetRawData());
}

TEST(calibration_cheyette_settings, round_trips_keep_every_member_and_corrupt_input_is_refused) {
  scratch_folder dir;
  for (const auto& s : {make(), make({})}) {
    expect_same(*testing::through_json_file(dir, s), *s);
    expect_same(*testing::through_binary_file(dir, s), *s);
  }
  testing::expect_registered(make());
  testing::expect_corrupt_binary_refused(dir, make());
  EXPECT_THROW(
      settings::read_from_json(testing::edited_json_file(dir, make(), [](json& r) { r.erase("skew_bounds"); })),
      json::out_of_range);
  EXPECT_THROW(settings::read_from_json(testing::edited_json_file(dir, make(), [](json& r) { r["type"] = "1"; })),
               json::type_error);
}

}  // namespace
}  // namespace tarvex
