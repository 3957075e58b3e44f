#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/tests/serialization_checks.h"

namespace tarvex {
namespace {

using settings = calibration_hjm_settings;
using testing::scratch_folder;
using json = nlohmann::ordered_json;

// Every flag differs from its neighbours, so a swapped pair of arguments or fields shows.
std::shared_ptr<const settings> make(std::vector<double> volatility_bounds = {0.0001, 0.05},
                                     std::vector<double> decay_bounds = {0.5, 0.001}) {
  return std::make_shared<const settings>(3, volatility_bounds, decay_bounds, parameter_markovian_hjm_type::decay_factor,
                                          /*debug=*/true, /*max_iterations=*/75, /*jacobian_with_aad_flag=*/false,
                                          /*calibrate_correlation_flag=*/true, /*tolerance=*/1e-9,
                                          /*regularization_factor=*/0.25, /*regularization_flag=*/false,
                                          /*calibrate_to_all_target_flag=*/true);
}

void expect_same(const settings& a, const settings& b) {
  EXPECT_EQ(a.number_of_factors(), b.number_of_factors());
  EXPECT_EQ(a.volatility_bounds(), b.volatility_bounds());
  EXPECT_EQ(a.decay_bounds(), b.decay_bounds());
  EXPECT_EQ(a.type(), b.type());
  EXPECT_EQ(a.tolerance(), b.tolerance());
  EXPECT_EQ(a.regularization_factor(), b.regularization_factor());
  EXPECT_EQ(a.regularization_flag(), b.regularization_flag());
  EXPECT_EQ(a.calibrate_correlation_flag(), b.calibrate_correlation_flag());
  EXPECT_EQ(a.jacobian_with_aad_flag(), b.jacobian_with_aad_flag());
  EXPECT_EQ(a.calibrate_to_all_target_flag(), b.calibrate_to_all_target_flag());
  EXPECT_EQ(a.debug(), b.debug());
  EXPECT_EQ(a.max_iterations(), b.max_iterations());
}

TEST(calibration_hjm_settings, constructor_arguments_reach_their_accessors) {
  const auto s = make();
  EXPECT_EQ(s->number_of_factors(), 3u);
  EXPECT_EQ(s->volatility_bounds(), (std::vector<double>{0.0001, 0.05}));
  EXPECT_EQ(s->decay_bounds(), (std::vector<double>{0.5, 0.001}));  // kept as given, descending
  EXPECT_EQ(s->type(), parameter_markovian_hjm_type::decay_factor);
  EXPECT_TRUE(s->debug());
  EXPECT_EQ(s->max_iterations(), 75);
  EXPECT_FALSE(s->jacobian_with_aad_flag());
  EXPECT_TRUE(s->calibrate_correlation_flag());
  EXPECT_EQ(s->tolerance(), 1e-9);
  EXPECT_EQ(s->regularization_factor(), 0.25);
  EXPECT_FALSE(s->regularization_flag());
  EXPECT_TRUE(s->calibrate_to_all_target_flag());
}

TEST(calibration_hjm_settings, json_text_has_the_keys_in_file_order) {
  EXPECT_EQ(settings::json_to_string(make()),
            R"({
  "Class": "tarvex::calibration_hjm_settings",
  "mumber_of_factors": 3,
  "volatility_bounds": [
    0.0001,
    0.05
  ],
  "decay_bounds": [
    0.5,
    0.001
  ],
  "type": 1,
  "tolerance": 1e-09,
  "regularization_factor": 0.25,
  "regularization_flag": false,
  "calibrate_correlation_flag": true,
  "jacobian_with_aad_flag": false,
  "calibrate_to_all_target_flag": true,
  "debug": true,
  "max_iterations": 75
})");
  EXPECT_EQ(settings::json_to_string(nullptr), "{\n  \"Class\": \"empty\"\n}");
}

TEST(calibration_hjm_settings, binary_payload_has_the_fields_in_file_order) {
  scratch_folder dir;
  multi_process_stream expected;
  expected << "tarvex::calibration_hjm_settings" << std::uint64_t{3} << std::uint32_t{2} << 0.0001 << 0.05
           << std::uint32_t{2} << 0.5 << 0.001 << std::int32_t{1} << 1e-9 << 0.25 << false << true << false << true
           << true << std::int32_t{75};
  EXPECT_EQ(testing::binary_payload(dir, make()), expected.GetRawData());
}

TEST(calibration_hjm_settings, json_and_binary_round_trips_keep_every_member) {
  scratch_folder dir;
  const double tiny = std::numeric_limits<double>::denorm_min();
  for (const auto& s : {make(), make({}, {}), make({tiny, -0.1 / 3.0}, {1e300})}) {
    expect_same(*testing::through_json_file(dir, s), *s);
    expect_same(*testing::through_binary_file(dir, s), *s);
  }
  // The file holds the object under "root".
  json document;
  serialization::access::read_json(dir.file("object.json"), document);
  EXPECT_EQ(document.size(), 1u);
  EXPECT_EQ(document.at("root").at("Class"), "tarvex::calibration_hjm_settings");

  // A null object is the "empty" marker and reads back as a default object.
  for (const auto& back : {testing::through_json_file<settings>(dir, nullptr),
                           testing::through_binary_file<settings>(dir, nullptr)}) {
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->number_of_factors(), 0u);
    EXPECT_TRUE(back->volatility_bounds().empty());
  }
  testing::expect_registered(make());
}

TEST(calibration_hjm_settings, json_without_a_key_or_with_a_wrong_type_is_refused) {
  scratch_folder dir;
  const auto s = make();
  // The reader wants the misspelled key: the correct spelling does not supply it.
  const auto renamed = testing::edited_json_file(dir, s, [](json& r) {
    r["number_of_factors"] = r["mumber_of_factors"];
    r.erase("mumber_of_factors");
  });
  EXPECT_THROW(settings::read_from_json(renamed), json::out_of_range);
  EXPECT_THROW(settings::read_from_json(testing::edited_json_file(dir, s, [](json& r) { r.erase("max_iterations"); })),
               json::out_of_range);
  EXPECT_THROW(settings::read_from_json(testing::edited_json_file(dir, s, [](json& r) { r["debug"] = "yes"; })),
               json::type_error);
  EXPECT_THROW(
      settings::read_from_json(testing::edited_json_file(dir, s, [](json& r) { r["volatility_bounds"][1] = "x"; })),
      json::type_error);
  testing::write_raw(dir.file("noroot.json"), "{\"other\": 1}");
  EXPECT_THROW(settings::read_from_json(dir.file("noroot.json")), json::out_of_range);
  testing::write_raw(dir.file("cut.json"), settings::json_to_string(s).substr(0, 60));
  EXPECT_EQ(testing::error_text([&] { settings::read_from_json(dir.file("cut.json")); }),
            dir.file("cut.json") + ": malformed JSON");
}

TEST(calibration_hjm_settings, corrupt_binary_is_refused) {
  scratch_folder dir;
  testing::expect_corrupt_binary_refused(dir, make());
  // A bounds count far beyond the bytes left is refused before anything is allocated.
  multi_process_stream huge;
  huge << "tarvex::calibration_hjm_settings" << std::uint64_t{3} << std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(testing::payload_error<settings>(dir, huge.GetRawData()),
            dir.file("payload.bin") + ": corrupt or truncated data: 4294967295 items of 8 bytes requested with 0 "
                                      "bytes left");
}

}  // namespace
}  // namespace tarvex
