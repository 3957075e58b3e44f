#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Analytics/change_of_measure/measure_id.h"
#include "Analytics/change_of_measure/measures.h"
#include "Core/error.h"
#include "Core/tests/testing.h"
#include "Market/any_container.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"
#include "Util/key.h"

namespace tarvex {
namespace {

using json = nlohmann::ordered_json;
using testing::scratch_folder;

std::shared_ptr<const discount_id> curve(const char* ccy, const char* name) {
  return std::make_shared<const discount_id>(discount_definition(name), currency(ccy));
}

TEST(measure_id, every_key_is_the_same_key) {
  const measure_id a, b;
  EXPECT_EQ(a.hash(), key("measure_id").hash());
  EXPECT_EQ(b.hash(), a.hash());
  EXPECT_EQ(a.to_string(), "");
  EXPECT_EQ(a.state(), 0);
  EXPECT_TRUE(static_cast<const data_id&>(a) == b);

  // A client's container finds the measure with a key built apart from the stored one.
  any_container container;
  const auto usd = std::make_shared<const measure>(curve("USD", "OIS"));
  container.add(any_id(std::make_shared<const measure_id>()), usd);
  const auto& found = container.get(any_id(std::make_shared<const measure_id>()));
  EXPECT_EQ(std::dynamic_pointer_cast<const measure>(std::get<2>(found)), usd);
}

TEST(measure_id, record_and_round_trips) {
  scratch_folder dir;
  const auto id = std::make_shared<const measure_id>();
  EXPECT_EQ(measure_id::json_to_string(id), "{\n  \"Class\": \"tarvex::measure_id\",\n  \"state\": 0\n}");
  measure_id::write_to_json(dir.file("m.json"), id);
  measure_id::write_to_binary(dir.file("m.bin"), id);
  EXPECT_EQ(measure_id::read_from_json(dir.file("m.json"))->state(), 0);
  EXPECT_EQ(measure_id::read_from_binary(dir.file("m.bin"))->state(), 0);
  // The state is carried as written.
  serialization::access::write_json(dir.file("s.json"),
                                    json{{"root", {{"Class", "tarvex::measure_id"}, {"state", -7}}}});
  EXPECT_EQ(measure_id::read_from_json(dir.file("s.json"))->state(), -7);
  EXPECT_TRUE(JsonSerializationRegistry().find("tarvex::measure_id"));
  EXPECT_TRUE(BinarySerializationRegistry().find("tarvex::measure_id"));
}

TEST(measure, null_curve_is_refused_at_construction_and_when_read) {
  const auto check = [](const std::function<void()>& f) {
    try {
      f();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "invalide discount_id!");
      EXPECT_EQ(e.location().function, "validate");
      EXPECT_EQ(e.location().file, "Library/Analytics/change_of_measure/measures");
      EXPECT_EQ(e.location().line, 40);
    }
  };
  check([] { measure(nullptr); });
  scratch_folder dir;
  serialization::access::write_json(
      dir.file("m.json"), json{{"root", {{"Class", "tarvex::measure"}, {"id", {{"Class", "empty"}}}}}});
  check([&] { measure::read_from_json(dir.file("m.json")); });
}

TEST(measure, record_and_round_trips) {
  scratch_folder dir;
  const auto m = std::make_shared<const measure>(curve("EUR", "ESTR"));
  EXPECT_EQ(json::parse(measure::json_to_string(m)).dump(),
            R"({"Class":"tarvex::measure","id":{"Class":"tarvex::discount_id","id":"ESTR","ccy":"EUR"}})");
  measure::write_to_json(dir.file("m.json"), m);
  measure::write_to_binary(dir.file("m.bin"), m);
  for (const auto& back : {measure::read_from_json(dir.file("m.json")), measure::read_from_binary(dir.file("m.bin"))}) {
    ASSERT_TRUE(back && back->id());
    EXPECT_TRUE(static_cast<const data_id&>(*back->id()) == *m->id());
  }
  EXPECT_TRUE(JsonSerializationRegistry().find("tarvex::measure"));
  EXPECT_TRUE(BinarySerializationRegistry().find("tarvex::measure"));

  // Every truncation of the payload throws.
  std::vector<unsigned char> payload;
  serialization::access::read_binary(dir.file("m.bin"), payload);
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    serialization::access::write_binary(
        dir.file("cut.bin"),
        std::vector<unsigned char>(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_THROW(measure::read_from_binary(dir.file("cut.bin")), Error) << cut;
  }
}

}  // namespace
}  // namespace tarvex
