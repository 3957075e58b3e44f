#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "Analytics/foundations/serialization_fields.h"
#include "Core/check.h"
#include "Core/demangle.h"
#include "Core/tests/testing.h"

namespace tarvex::serialization {
namespace {

multi_process_stream rewound(const multi_process_stream& s) {
  multi_process_stream r;
  r.SetRawData(s.GetRawData());
  return r;
}

TEST(serialization_fields, matrix_json_is_column_arrays_and_binary_is_row_major) {
  matrix<double> m(2, 3);
  for (std::size_t r = 0; r < 2; ++r)
    for (std::size_t c = 0; c < 3; ++c) m(r, c) = 10.0 * r + c + 0.1;
  json j;
  write_json_field(j, m);
  EXPECT_EQ(j.dump(), R"({"class":"tarvex.matrix","rows":2,"columns":3,"data":[[0.1,10.1],[1.1,11.1],[2.1,12.1]]})");
  matrix<double> back;
  read_json_field(j, back);
  EXPECT_EQ(back, m);

  multi_process_stream s;
  write_binary_field(s, m);
  ASSERT_EQ(s.GetRawData().size(), 16u + 6 * 8);
  double third = 0;  // storage order: (0,2) is the third double
  std::memcpy(&third, s.GetRawData().data() + 16 + 2 * 8, 8);
  EXPECT_EQ(third, m(0, 2));
  auto r = rewound(s);
  matrix<double> back_binary;
  read_binary_field(r, back_binary);
  EXPECT_EQ(back_binary, m);
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(serialization_fields, json_matrix_claiming_more_than_it_holds_is_refused_before_allocating) {
  json j = json::parse(R"({"class":"tarvex.matrix","rows":1000000000000,"columns":2,"data":[[1],[2]]})");
  matrix<double> m;
  EXPECT_THROW(read_json_field(j, m), json::out_of_range);
  j = json::parse(R"({"class":"tarvex.matrix","rows":1,"columns":2,"data":[[1],["x"]]})");
  EXPECT_THROW(read_json_field(j, m), json::type_error);
  j = json::parse(R"({"rows":-1,"columns":2,"data":[]})");
  EXPECT_THROW(read_json_field(j, m), json::exception);
}

TEST(serialization_fields, empty_date_vector_is_null_and_dates_keep_their_bits) {
  std::vector<datetime> dates;
  json j;
  write_json_field(j, dates);
  EXPECT_TRUE(j.is_null());
  dates = {datetime(1.0)};
  read_json_field(j, dates);
  EXPECT_TRUE(dates.empty());

  // A serial with a fractional part and the next double after it must survive.
  const double odd = std::nextafter(46027.25, 1e9);
  dates = {datetime(46027.0), datetime(odd)};
  write_json_field(j, dates);
  std::vector<datetime> back;
  read_json_field(json::parse(j.dump()), back);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].value(), odd);

  multi_process_stream s;
  write_binary_field(s, dates);
  auto r = rewound(s);
  read_binary_field(r, back);
  EXPECT_EQ(back, dates);
}

TEST(serialization_fields, binary_counts_larger_than_the_data_throw_instead_of_allocating) {
  {
    multi_process_stream s;
    s << std::uint64_t{1} << std::numeric_limits<std::uint64_t>::max();  // rows * columns overflows
    auto r = rewound(s);
    matrix<double> m;
    EXPECT_THROW(read_binary_field(r, m), Error);
  }
  {
    multi_process_stream s;
    s << std::uint64_t{1} << std::uint64_t{1} << 1.0 << 2.0;
    auto r = rewound(s);
    r.SetSourceName("x.bin");
    matrix<double> m;
    read_binary_field(r, m);  // reads one, leaves one
    EXPECT_EQ(r.remaining(), 8u);
  }
  {
    multi_process_stream s;
    s << std::numeric_limits<std::uint32_t>::max() << 1.0;
    auto r = rewound(s);
    r.SetSourceName("dates.bin");
    std::vector<datetime> dates;
    try {
      read_binary_field(r, dates);
      FAIL();
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("dates.bin: ", 0), 0u) << e.what();
    }
  }
}

TEST(serialization_fields, convention_and_calendar_records) {
  auto holidays = std::make_shared<const calendar>(false, std::vector<datetime>{datetime(46027.0), datetime(46028.0)});
  auto act360 = std::make_shared<const day_count_convention>(day_count_convention_type::act_360, holidays);
  json j;
  write_json_field(j, std::shared_ptr<const day_count_convention>(act360));
  const std::string cls = demangle(typeid(day_count_convention));
  EXPECT_EQ(j.dump(), R"({"Class":")" + cls + R"(","type":1,"calendar":{"Class":")" +
                          demangle(typeid(calendar)) + R"(","use_weekends":false,"dates":[46027.0,46028.0]}})");
  std::shared_ptr<const day_count_convention> back;
  read_json_field(j, back);
  ASSERT_TRUE(back && back->calendar_ptr());
  EXPECT_EQ(back->type(), day_count_convention_type::act_360);
  EXPECT_FALSE(back->calendar_ptr()->use_weekends());
  EXPECT_EQ(back->calendar_ptr()->dates(), holidays->dates());

  multi_process_stream s;
  write_binary_field(s, std::shared_ptr<const day_count_convention>(act360));
  auto r = rewound(s);
  std::shared_ptr<const day_count_convention> back_binary;
  read_binary_field(r, back_binary);
  EXPECT_EQ(back_binary->type(), day_count_convention_type::act_360);
  EXPECT_EQ(back_binary->calendar_ptr()->dates(), holidays->dates());

  // "empty" reads back as the default objects, never as null.
  write_json_field(j, std::shared_ptr<const day_count_convention>());
  EXPECT_EQ(j.dump(), R"({"Class":"empty"})");
  read_json_field(j, back);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->type(), day_count_convention_type::act_365_fixed);
  EXPECT_EQ(back->calendar_ptr(), nullptr);
  write_json_field(j, std::make_shared<const day_count_convention>());
  read_json_field(j, back);
  ASSERT_TRUE(back->calendar_ptr());
  EXPECT_TRUE(back->calendar_ptr()->use_weekends());
  EXPECT_TRUE(back->calendar_ptr()->dates().empty());
}

TEST(serialization_fields, unknown_convention_type_is_refused) {
  json j = json::parse(R"({"Class":"tarvex::day_count_convention","type":7,"calendar":{"Class":"empty"}})");
  std::shared_ptr<const day_count_convention> d;
  EXPECT_THROW(read_json_field(j, d), Error);
}

// Integers from a file are range-checked before any conversion: a float far beyond
// the target (undefined behaviour when cast) or a negative count fails with the text
// below, and integral floats still read.
TEST(serialization_fields, integers_must_fit_their_field) {
  const auto int_field = [](const char* text) {
    std::int32_t v = 0;
    read_json_field(json::parse(text), v);
    return v;
  };
  const auto enum_field = [](const char* text) {
    day_count_convention_type v{};
    read_json_field(json::parse(text), v);
    return static_cast<int>(v);
  };
  const auto matrix_rows = [](const char* rows) {
    matrix<double> m;
    read_json_field(json::parse(std::string(R"({"rows":)") + rows + R"(,"columns":0,"data":[]})"), m);
    return m.rows();
  };
  EXPECT_EQ(int_field("2.0"), 2);
  EXPECT_EQ(int_field("-2147483648"), -2147483648);
  EXPECT_EQ(enum_field("1"), 1);
  EXPECT_EQ(matrix_rows("3"), 3u);
  const std::string int_range = "[json.exception.out_of_range.406] expected an integer from -2147483648 to 2147483647, got ";
  const std::string rows_range = "[json.exception.out_of_range.406] expected an integer from 0 to 18446744073709551615, got ";
  const auto json_error = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const json::out_of_range& e) {
      return e.what();
    }
    return "no out_of_range";
  };
  for (const auto& [f, text, expected] : std::vector<std::tuple<std::function<void()>, std::string, std::string>>{
           {[&] { int_field("1e10"); }, "1e10", int_range + "10000000000.0"},
           {[&] { int_field("2147483648"); }, "2^31", int_range + "2147483648"},
           {[&] { int_field("18446744073709551615"); }, "2^64-1", int_range + "18446744073709551615"},
           {[&] { int_field("2.5"); }, "2.5", int_range + "2.5"},
           {[&] { enum_field("-1e300"); }, "enum -1e300", int_range + "-1e+300"},
           {[&] { matrix_rows("1e300"); }, "rows 1e300", rows_range + "1e+300"},
           {[&] { matrix_rows("-1"); }, "rows -1", rows_range + "-1"},
       })
    EXPECT_EQ(json_error(f), expected) << text;
  EXPECT_THROW(int_field("\"2\""), json::type_error);  // wrong types stay the JSON library's
}

// What the JSON form cannot hold is refused by the binary readers too.
TEST(serialization_fields, binary_refuses_what_json_cannot_hold) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const double bad : {nan, inf, -inf}) {
    multi_process_stream s;
    s << std::uint64_t{1} << std::uint64_t{2} << 0.5 << bad;
    s.SetSourceName("m.bin");
    matrix<double> m;
    EXPECT_EQ(testing::error_text([&] { read_binary_field(s, m); }), "m.bin: corrupt data: non-finite number") << bad;
    multi_process_stream v;
    v << std::uint32_t{1} << bad;
    std::vector<double> values;
    EXPECT_EQ(testing::error_text([&] { read_binary_field(v, values); }),
              "binary stream: corrupt data: non-finite number");
  }
  for (const char* bad : {"\xff", "a\xc0\xaf" "b", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    multi_process_stream s;
    s << std::string(bad);
    std::string text;
    EXPECT_EQ(testing::error_text([&] { read_binary_field(s, text); }),
              "binary stream: corrupt data: text that is not UTF-8");
    EXPECT_THROW(json(std::string(bad)).dump(), json::type_error);  // the writer's view agrees
  }
  multi_process_stream s;
  s << std::string("z\xc3\xbc" "rich \xe2\x82\xac \xf0\x9f\x98\x80");
  std::string text;
  read_binary_field(s, text);
  EXPECT_EQ(text, "z\xc3\xbc" "rich \xe2\x82\xac \xf0\x9f\x98\x80");
}

}  // namespace
}  // namespace tarvex::serialization
