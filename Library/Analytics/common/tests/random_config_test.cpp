#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Analytics/common/random_config.h"
#include "Core/error.h"
#include "Core/multi_process_stream.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex {
namespace {

using json = nlohmann::ordered_json;
using testing::scratch_folder;

// Every argument distinct, so a swapped pair shows.
std::shared_ptr<const random_config> distinct(bool use_shift, bool orthogonalization) {
  return std::make_shared<const random_config>(random_type::sobol, 42, 64, 5, 3, 7, use_shift, orthogonalization,
                                               random_type::mersenne_twister, device_type::cpu);
}

void expect_same(const random_config& a, const random_config& b) {
  EXPECT_EQ(a.main_generator_type(), b.main_generator_type());
  const auto &s = *a.settings(), &t = *b.settings();
  EXPECT_EQ(s.seed(), t.seed());
  EXPECT_EQ(s.number_of_paths_per_batch(), t.number_of_paths_per_batch());
  EXPECT_EQ(s.number_of_simulation_dates(), t.number_of_simulation_dates());
  EXPECT_EQ(s.number_of_brownians(), t.number_of_brownians());
  EXPECT_EQ(s.batch_index(), t.batch_index());
  EXPECT_EQ(s.full_skip(), t.full_skip());
  EXPECT_EQ(s.generator_type(), t.generator_type());
  EXPECT_EQ(s.use_shift(), t.use_shift());
  EXPECT_EQ(s.type(), t.type());
  EXPECT_EQ(s.orthogonalization(), t.orthogonalization());
}

TEST(random_config, constructor_maps_its_arguments_onto_the_settings) {
  for (const bool shift : {false, true}) {
    const auto c = distinct(shift, !shift);
    EXPECT_EQ(c->main_generator_type(), random_type::sobol);
    const auto& s = *c->settings();
    EXPECT_EQ(s.seed(), 42u);
    EXPECT_EQ(s.number_of_paths_per_batch(), 64u);
    EXPECT_EQ(s.number_of_simulation_dates(), 5u);
    EXPECT_EQ(s.number_of_brownians(), 3u);
    EXPECT_EQ(s.batch_index(), 7u);
    EXPECT_FALSE(s.full_skip());
    EXPECT_EQ(s.generator_type(), random_type::mersenne_twister);
    EXPECT_EQ(s.use_shift(), shift);
    EXPECT_EQ(s.orthogonalization(), !shift);
    EXPECT_EQ(s.type(), device_type::cpu);
  }
  // The settings' own checks apply.
  EXPECT_THROW(random_config(random_type::philox, 1, 0, 1, 1, 0, false, false, random_type::philox, device_type::cpu),
               Error);
}

TEST(random_config, record_keys_and_binary_widths) {
  const auto c = distinct(true, false);
  const json j = json::parse(random_config::json_to_string(c));
  std::vector<std::string> keys, settings_keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  for (const auto& item : j["settings"].items()) settings_keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "main_generator_type", "settings"}));
  EXPECT_EQ(settings_keys,
            (std::vector<std::string>{"Class", "seed", "number_of_paths_per_batch", "number_of_simulation_dates",
                                      "number_of_brownians", "batch_index", "full_skip", "generator_type", "use_shift",
                                      "type", "orthogonalization"}));
  EXPECT_EQ(j["Class"], "tarvex::random_config");
  EXPECT_EQ(j["main_generator_type"], 5);
  EXPECT_EQ(j["settings"]["Class"], "tarvex::random_settings");
  EXPECT_EQ(j["settings"]["generator_type"], 3);
  EXPECT_EQ(j["settings"]["type"], 0);

  // The binary payload, value by value: enumerations as int32, the device as int16.
  scratch_folder dir;
  random_config::write_to_binary(dir.file("c.bin"), c);
  std::vector<unsigned char> payload;
  serialization::access::read_binary(dir.file("c.bin"), payload);
  multi_process_stream expected;
  expected << std::string("tarvex::random_config") << std::int32_t{5} << std::string("tarvex::random_settings")
           << std::uint64_t{42} << std::uint64_t{64} << std::uint64_t{5} << std::uint64_t{3} << std::uint64_t{7}
           << false << std::int32_t{3} << true << std::int16_t{0} << false;
  EXPECT_EQ(payload, expected.GetRawData());
}

TEST(random_config, files_and_registries_round_trip) {
  scratch_folder dir;
  for (const auto& c : {distinct(true, false), distinct(false, true)}) {
    random_config::write_to_json(dir.file("c.json"), c);
    random_config::write_to_binary(dir.file("c.bin"), c);
    expect_same(*random_config::read_from_json(dir.file("c.json")), *c);
    expect_same(*random_config::read_from_binary(dir.file("c.bin")), *c);
  }
  EXPECT_TRUE(JsonSerializationRegistry().find("tarvex::random_config"));
  EXPECT_TRUE(BinarySerializationRegistry().find("tarvex::random_config"));
}

TEST(random_config, records_without_settings_are_refused) {
  scratch_folder dir;
  const auto check = [](const std::function<void()>& f) {
    try {
      f();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "invalide random settings!");
      EXPECT_EQ(e.location().function, "validate");
      EXPECT_EQ(e.location().file, "Library/Analytics/common/random_config");
      EXPECT_EQ(e.location().line, 66);
    }
  };
  json doc{{"root", json::parse(random_config::json_to_string(distinct(false, false)))}};
  doc["root"]["settings"] = json{{"Class", "empty"}};
  serialization::access::write_json(dir.file("empty.json"), doc);
  check([&] { random_config::read_from_json(dir.file("empty.json")); });

  multi_process_stream s;
  s << std::string("tarvex::random_config") << std::int32_t{2} << std::string("empty");
  serialization::access::write_binary(dir.file("empty.bin"), s.GetRawData());
  check([&] { random_config::read_from_binary(dir.file("empty.bin")); });

  // Settings that are present are checked by their own class while they are read.
  doc["root"]["settings"] = json::parse(random_config::json_to_string(distinct(false, false)))["settings"];
  doc["root"]["settings"]["number_of_brownians"] = 0;
  serialization::access::write_json(dir.file("zero.json"), doc);
  EXPECT_THROW(random_config::read_from_json(dir.file("zero.json")), Error);
  doc["root"]["settings"].erase("orthogonalization");
  serialization::access::write_json(dir.file("short.json"), doc);
  EXPECT_THROW(random_config::read_from_json(dir.file("short.json")), json::out_of_range);
}

}  // namespace
}  // namespace tarvex
