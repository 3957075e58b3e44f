#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "Core/check.h"
#include "Core/multi_process_stream.h"

namespace tarvex {
namespace {

TEST(multi_process_stream, values_round_trip_bit_for_bit_in_order) {
  multi_process_stream out;
  const double values[3] = {0.1, -0.0, std::numeric_limits<double>::denorm_min()};
  out << true << std::int16_t{-7} << std::int32_t{-123456} << std::uint32_t{4000000000u}
      << std::uint64_t{1ull << 60} << std::nan("") << std::string("tarvex::x");
  out.Push(values, 3);

  multi_process_stream in;
  in.SetRawData(out.GetRawData());
  bool b = false;
  std::int16_t s = 0;
  std::int32_t i = 0;
  std::uint32_t u = 0;
  std::uint64_t w = 0;
  double d = 0;
  std::string text;
  double back[3];
  in >> b >> s >> i >> u >> w >> d >> text;
  in.Pop(back, 3);
  EXPECT_TRUE(b);
  EXPECT_EQ(s, -7);
  EXPECT_EQ(i, -123456);
  EXPECT_EQ(u, 4000000000u);
  EXPECT_EQ(w, 1ull << 60);
  EXPECT_TRUE(std::isnan(d));
  EXPECT_EQ(text, "tarvex::x");
  EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(multi_process_stream, little_endian_fixed_width_layout) {
  multi_process_stream out;
  out << std::uint32_t{0x01020304u} << std::int16_t{1};
  const std::vector<unsigned char> expected = {4, 3, 2, 1, 1, 0};
  EXPECT_EQ(out.GetRawData(), expected);
}

TEST(multi_process_stream, corrupt_input_throws_naming_the_source) {
  multi_process_stream out;
  out << std::uint64_t{1ull << 40};  // a string length far beyond the data
  multi_process_stream in;
  in.SetRawData(out.GetRawData());
  in.SetSourceName("params.bin");
  std::string text;
  try {
    in >> text;
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "params.bin: corrupt or truncated data: 1099511627776 items of 1 bytes requested with 0 bytes left");
  }
  multi_process_stream empty;
  double d;
  EXPECT_THROW(empty >> d, Error);
  EXPECT_THROW(empty.Pop(&d, std::numeric_limits<std::size_t>::max() / 4), Error);  // no overflow in the check
  multi_process_stream flag;
  flag.SetRawData({7});
  bool b;
  EXPECT_THROW(flag >> b, Error);
}

}  // namespace
}  // namespace tarvex
