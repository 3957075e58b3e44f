#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/calibration/tests/serialization_checks.h"

namespace tarvex {
namespace {

using targets = calibration_ir_targets_configuration;
using testing::scratch_folder;
using json = nlohmann::ordered_json;
using table = std::vector<std::vector<double>>;

std::vector<tenor> tenors(std::initializer_list<const char*> texts) {
  std::vector<tenor> out;
  for (const char* t : texts) out.emplace_back(t);
  return out;
}

std::shared_ptr<targets> make(std::vector<tenor> expiries = tenors({"1Y", "2Y", "18M"}),
                              std::vector<tenor> cms = tenors({"5Y", "10Y"}),
                              table strikes = {{0.01, 0.02}, {}, {-0.005}}) {
  return std::make_shared<targets>(tenor("3M"), std::move(expiries), tenor("-10y"), std::move(cms),
                                   std::move(strikes), /*include_caplets=*/true, /*include_coterminal=*/false,
                                   /*include_cms=*/true);
}

void expect_same(const targets& a, const targets& b) {
  EXPECT_EQ(a.frequency(), b.frequency());
  EXPECT_EQ(a.expiries(), b.expiries());
  EXPECT_EQ(a.coterminal(), b.coterminal());
  EXPECT_EQ(a.cms_tenors(), b.cms_tenors());
  EXPECT_EQ(a.strikes(), b.strikes());
  EXPECT_EQ(a.include_caplets(), b.include_caplets());
  EXPECT_EQ(a.include_coterminal(), b.include_coterminal());
  EXPECT_EQ(a.include_cms(), b.include_cms());
}

TEST(calibration_ir_targets_configuration, json_text_has_the_keys_in_file_order) {
  EXPECT_EQ(targets::json_to_string(make()),
            R"({
  "Class": "tarvex::calibration_ir_targets_configuration",
  "frequency": "3M",
  "expiries": [
    "1Y",
    "2Y",
    "18M"
  ],
  "coterminal": "-10Y",
  "cms_tenors": [
    "5Y",
    "10Y"
  ],
  "strikes": [
    [
      0.01,
      0.02
    ],
    [],
    [
      -0.005
    ]
  ],
  "include_caplets": true,
  "include_coterminal": false,
  "include_cms": true
})");
}

TEST(calibration_ir_targets_configuration, binary_payload_has_the_fields_in_file_order) {
  scratch_folder dir;
  multi_process_stream expected;
  expected << "tarvex::calibration_ir_targets_configuration" << "3M" << std::uint32_t{3} << "1Y" << "2Y" << "18M"
           << "-10Y" << std::uint32_t{2} << "5Y" << "10Y" << std::uint32_t{3} << std::uint32_t{2} << 0.01 << 0.02
           << std::uint32_t{0} << std::uint32_t{1} << -0.005 << true << false << true;
  EXPECT_EQ(testing::binary_payload<targets>(dir, make()), expected.GetRawData());
}

TEST(calibration_ir_targets_configuration, round_trips_keep_every_member_including_empty_lists) {
  scratch_folder dir;
  const std::vector<std::shared_ptr<const targets>> cases = {make(), make({}, {}, {}), make(tenors({"1W"}), {}, {{}})};
  for (const auto& t : cases) {
    expect_same(*testing::through_json_file(dir, t), *t);
    expect_same(*testing::through_binary_file(dir, t), *t);
  }
  EXPECT_EQ(json::parse(targets::json_to_string(cases[1]))["strikes"], json::array());
  testing::expect_registered<targets>(make());

  // The "empty" marker reads back as the default object: unset tenors, empty lists.
  for (const auto& back : {testing::through_json_file<targets>(dir, nullptr),
                           testing::through_binary_file<targets>(dir, nullptr)}) {
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->frequency(), tenor());
    EXPECT_TRUE(back->expiries().empty());
    EXPECT_TRUE(back->strikes().empty());
    EXPECT_FALSE(back->include_cms());
  }
}

TEST(calibration_ir_targets_configuration, strikes_mutator_replaces_the_lists) {
  auto t = make();
  const table replacement{{0.03}, {0.04, 0.05}};
  t->strikes(replacement);
  EXPECT_EQ(t->strikes(), replacement);
  t->strikes(t->strikes());  // its own member: nothing changes
  EXPECT_EQ(t->strikes(), replacement);
  t->strikes({});
  EXPECT_TRUE(t->strikes().empty());
  EXPECT_EQ(t->expiries(), tenors({"1Y", "2Y", "18M"}));  // the rest is untouched
}

TEST(calibration_ir_targets_configuration, corrupt_json_and_binary_are_refused) {
  scratch_folder dir;
  const std::shared_ptr<const targets> t = make();
  EXPECT_EQ(testing::error_text([&] {
              targets::read_from_json(testing::edited_json_file(dir, t, [](json& r) { r["expiries"][1] = "2X"; }));
            }),
            "invalid tenor \"2X\": expected a count followed by D, W, M or Y");
  EXPECT_THROW(targets::read_from_json(testing::edited_json_file(dir, t, [](json& r) { r["strikes"][0] = 0.01; })),
               json::type_error);
  EXPECT_THROW(targets::read_from_json(testing::edited_json_file(dir, t, [](json& r) { r["frequency"] = 3; })),
               json::type_error);
  EXPECT_THROW(targets::read_from_json(testing::edited_json_file(dir, t, [](json& r) { r.erase("include_cms"); })),
               json::out_of_range);

  testing::expect_corrupt_binary_refused(dir, t);
  // Counts far beyond the bytes left: a tenor list and a strike row.
  const std::string cls = "tarvex::calibration_ir_targets_configuration";
  const auto huge = std::numeric_limits<std::uint32_t>::max();
  multi_process_stream many_expiries;
  many_expiries << cls << "3M" << huge;
  EXPECT_EQ(testing::payload_error<targets>(dir, many_expiries.GetRawData()),
            dir.file("payload.bin") + ": corrupt or truncated data: 4294967295 items of 8 bytes requested with 0 "
                                      "bytes left");
  multi_process_stream long_row;
  long_row << cls << "3M" << std::uint32_t{0} << "10Y" << std::uint32_t{0} << std::uint32_t{1} << huge << 0.01;
  EXPECT_EQ(testing::payload_error<targets>(dir, long_row.GetRawData()),
            dir.file("payload.bin") + ": corrupt or truncated data: 4294967295 items of 8 bytes requested with 8 "
                                      "bytes left");
}

}  // namespace
}  // namespace tarvex
