#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "Analytics/foundations/serialization_fields.h"
#include "Core/check.h"
#include "Core/demangle.h"

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

}  // namespace
}  // namespace tarvex::serialization
