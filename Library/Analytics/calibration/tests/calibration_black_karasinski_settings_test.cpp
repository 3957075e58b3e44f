#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_black_karasinski_settings.h"
#include "Analytics/calibration/tests/serialization_checks.h"

namespace tarvex {
namespace {

using settings = calibration_black_karasinski_settings;
using testing::scratch_folder;
using json = nlohmann::ordered_json;

std::shared_ptr<const settings> make() {
  return std::make_shared<const settings>(tenor("3M"), 0.01, true, false, std::uint64_t{201}, 6.0, -12.0, 2.0, 1e-10,
                                          true, 7.0, std::uint64_t{1}, 1.0, true);
}

TEST(calibration_black_karasinski_settings, keys_binary_order_round_trips_and_corrupt_input) {
  const auto s = make();
  const auto j = json::parse(settings::json_to_string(s));
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "frequency", "mean_reversion_spead", "backward",
                                            "use_adjustement", "pde_grid_size", "pde_span", "level_lower_bound",
                                            "level_upper_bound", "tolerance", "debug", "step", "period",
                                            "minimum_step", "update_bounds"}));
  EXPECT_EQ(j["frequency"], "3M");
  EXPECT_TRUE(j["pde_grid_size"].is_number_unsigned());

  scratch_folder dir;
  multi_process_stream expected;
  expected << "tarvex::calibration_black_karasinski_settings" << "3M" << 0.01 << true << false << std::uint64_t{201}
           << 6.0 << -12.0 << 2.0 << 1e-10 << true << 7.0 << std::uint64_t{1} << 1.0 << true;
  EXPECT_EQ(testing::binary_payload(dir, s), expected.GetRawData());

  for (const auto& back : {testing::through_json_file(dir, s), testing::through_binary_file(dir, s)}) {
    EXPECT_EQ(settings::json_to_string(back), settings::json_to_string(s));
    EXPECT_EQ(back->frequency().to_string(), "3M");
    EXPECT_EQ(back->pde_grid_size(), 201u);
    EXPECT_EQ(back->level_lower_bound(), -12.0);
    EXPECT_TRUE(back->update_bounds());
    EXPECT_FALSE(back->use_adjustement());
  }
  testing::expect_registered(s);
  testing::expect_corrupt_binary_refused(dir, s);
  EXPECT_THROW(settings::read_from_json(testing::edited_json_file(dir, s, [](json& r) { r.erase("pde_span"); })),
               json::out_of_range);
}

}  // namespace
}  // namespace tarvex
