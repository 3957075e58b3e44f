#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Analytics/foundations/serialization_io.h"
#include "Core/demangle.h"
#include "Core/tests/testing.h"

namespace tarvex::serialization {
namespace {

using testing::error_text;

multi_process_stream rewound(const multi_process_stream& s, const std::string& source = "") {
  multi_process_stream r;
  r.SetRawData(s.GetRawData());
  if (!source.empty()) r.SetSourceName(source);
  return r;
}

// JSON through its text and binary through a fresh stream give back `value`.
template <class T>
T json_round_trip(const T& value) {
  json j;
  write_json_field(j, value);
  T back{value};
  read_json_field(json::parse(j.dump()), back);
  return back;
}
template <class T>
T binary_round_trip(const T& value) {
  multi_process_stream s;
  write_binary_field(s, value);
  auto r = rewound(s);
  T back{value};
  read_binary_field(r, back);
  EXPECT_EQ(r.remaining(), 0u);
  return back;
}

std::shared_ptr<const discount_id> curve(const char* ccy, const char* name) {
  return std::make_shared<const discount_id>(discount_definition(name), currency(ccy));
}

TEST(serialization_objects, value_types_are_plain_json_values_and_round_trip) {
  json j;
  write_json_field(j, currency("JPY"));
  EXPECT_EQ(j, "JPY");
  write_json_field(j, discount_definition("TONA"));
  EXPECT_EQ(j, "TONA");
  write_json_field(j, key("SPX"));
  EXPECT_EQ(j, "SPX");
  const std::vector<std::size_t> counts{0, 3, std::size_t{1} << 40};
  write_json_field(j, counts);
  EXPECT_EQ(j.dump(), "[0,3,1099511627776]");

  EXPECT_EQ(json_round_trip(currency("EUR")), currency("EUR"));
  EXPECT_EQ(binary_round_trip(currency("EUR")), currency("EUR"));
  EXPECT_EQ(json_round_trip(discount_definition("OIS")), discount_definition("OIS"));
  EXPECT_EQ(binary_round_trip(discount_definition("OIS")), discount_definition("OIS"));
  EXPECT_EQ(json_round_trip(key("")), key(""));
  EXPECT_EQ(binary_round_trip(key("SX5E")), key("SX5E"));
  EXPECT_EQ(json_round_trip(counts), counts);
  EXPECT_EQ(binary_round_trip(counts), counts);
  EXPECT_EQ(binary_round_trip(std::vector<std::size_t>{}), std::vector<std::size_t>{});
  // A date keeps its bits, fractional part included.
  const datetime odd(std::nextafter(46027.25, 1e9));
  EXPECT_EQ(json_round_trip(odd).value(), odd.value());
  EXPECT_EQ(binary_round_trip(odd).value(), odd.value());

  // Values are validated by their own classes on the way in.
  currency c("USD");
  EXPECT_THROW(read_json_field(json("usd"), c), Error);
  discount_definition d("OIS");
  EXPECT_THROW(read_json_field(json(""), d), Error);
  std::vector<std::size_t> v;
  EXPECT_THROW(read_json_field(json{{"a", 1}}, v), json::type_error);
}

enum class narrow : std::int16_t { low = -3 };
enum class wide : std::int32_t { low = -70000 };

TEST(serialization_objects, sixteen_bit_enumerations_keep_their_width) {
  multi_process_stream s;
  write_binary_field(s, narrow::low);
  EXPECT_EQ(s.GetRawData().size(), 2u);
  write_binary_field(s, wide::low);
  EXPECT_EQ(s.GetRawData().size(), 6u);
  auto r = rewound(s);
  narrow n{};
  wide w{};
  read_binary_field(r, n);
  read_binary_field(r, w);
  EXPECT_EQ(n, narrow::low);
  EXPECT_EQ(w, wide::low);
  json j;
  write_json_field(j, narrow::low);
  EXPECT_EQ(j, -3);
}

TEST(serialization_objects, binary_counts_are_checked_before_allocating) {
  multi_process_stream s;
  s << std::numeric_limits<std::uint32_t>::max() << std::uint64_t{1};
  auto r = rewound(s, "counts.bin");
  std::vector<std::size_t> counts;
  EXPECT_EQ(error_text([&] { read_binary_field(r, counts); }).rfind("counts.bin: ", 0), 0u);
  auto r2 = rewound(s, "ids.bin");
  std::vector<std::shared_ptr<const diffusion_id>> ids;
  EXPECT_EQ(error_text([&] { read_binary_field(r2, ids); }).rfind("ids.bin: ", 0), 0u);
}

TEST(serialization_objects, null_nested_members_are_the_empty_marker_and_read_back_null) {
  std::shared_ptr<const discount_id> none, some = curve("USD", "OIS");
  json j;
  write_json_field(j, none);
  EXPECT_EQ(j.dump(), R"({"Class":"empty"})");
  EXPECT_EQ(json_round_trip(none), nullptr);
  EXPECT_EQ(binary_round_trip(none), nullptr);
  write_json_field(j, some);
  EXPECT_EQ(j.dump(), R"({"Class":"tarvex::discount_id","id":"OIS","ccy":"USD"})");
  const auto back = binary_round_trip(some);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->to_string(), "USD.OIS");
}

// A diffusion identifier nobody registered.
struct unlisted_id : diffusion_id {
  std::string to_string() const override { return "unlisted"; }
  std::uint64_t hash() const override { return 1; }
  void discovery(const std::shared_ptr<const diffusion_id>&, const std::shared_ptr<const any_container>&,
                 std::unordered_set<std::shared_ptr<const diffusion_id>>&) const override {}

 protected:
  bool same_as(const data_id&) const override { return true; }
};

TEST(serialization_objects, base_class_members_dispatch_on_the_dynamic_class) {
  const std::vector<std::shared_ptr<const diffusion_id>> ids{
      std::make_shared<const diffusion_ir_id>(curve("USD", "OIS")), nullptr};
  json j;
  write_json_field(j, ids);
  EXPECT_EQ(j.dump(), R"([{"Class":"tarvex::diffusion_ir_id","id":{"Class":"tarvex::discount_id","id":"OIS",)"
                      R"("ccy":"USD"}},{"Class":"empty"}])");
  for (const auto& back : {json_round_trip(ids), binary_round_trip(ids)}) {
    ASSERT_EQ(back.size(), 2u);
    ASSERT_NE(std::dynamic_pointer_cast<const diffusion_ir_id>(back[0]), nullptr);
    EXPECT_EQ(back[0]->to_string(), "USD.OIS");
    EXPECT_EQ(back[1], nullptr);
  }

  // The "empty" marker leaves a member as it was.
  std::shared_ptr<const diffusion_id> kept = ids[0];
  read_json_field(json{{"Class", "empty"}}, kept);
  EXPECT_EQ(kept, ids[0]);

  const std::string unlisted = demangle(typeid(unlisted_id));
  EXPECT_EQ(error_text([&] {
              json out;
              write_json_field(out, std::shared_ptr<const diffusion_id>(std::make_shared<const unlisted_id>()));
            }),
            "class '" + unlisted + "' is not registered for serialization as tarvex::diffusion_id");
  EXPECT_EQ(error_text([&] { read_json_field(json{{"Class", "tarvex::nothing"}}, kept); }),
            "class 'tarvex::nothing' is not registered for serialization as tarvex::diffusion_id");
  // A registered class that is not a diffusion identifier is unknown here too.
  EXPECT_EQ(error_text([&] { read_json_field(json{{"Class", "tarvex::discount_id"}}, kept); }),
            "class 'tarvex::discount_id' is not registered for serialization as tarvex::diffusion_id");
  multi_process_stream s;
  s << std::string("tarvex::nothing");
  auto r = rewound(s, "ids.bin");
  EXPECT_EQ(error_text([&] { read_binary_field(r, kept); }),
            "ids.bin: corrupt data: class 'tarvex::nothing' is not registered for serialization as "
            "tarvex::diffusion_id");
}

}  // namespace
}  // namespace tarvex::serialization
