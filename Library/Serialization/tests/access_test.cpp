#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Core/check.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex {
namespace {

using serialization::access;
using testing::error_text;
using testing::scratch_folder;
using testing::write_raw;

TEST(access, json_and_binary_round_trip_and_leave_no_temporary) {
  scratch_folder dir;
  nlohmann::ordered_json doc = {{"root", {{"Class", "x"}, {"é", 0.1}}}};
  access::write_json(dir.file("a.json"), doc);
  nlohmann::ordered_json back;
  access::read_json(dir.file("a.json"), back);
  EXPECT_EQ(back, doc);
  const std::vector<unsigned char> bytes = {0, 1, 2, 255};
  access::write_binary(dir.file("a.bin"), bytes);
  access::write_binary(dir.file("a.bin"), bytes);  // replacing works
  std::vector<unsigned char> read;
  access::read_binary(dir.file("a.bin"), read);
  EXPECT_EQ(read, bytes);
  EXPECT_EQ(dir.entries(), 2u);
}

TEST(access, read_errors_name_the_path) {
  scratch_folder dir;
  const std::string missing = dir.file("missing.bin");
  std::vector<unsigned char> bytes;
  EXPECT_EQ(error_text([&] { access::read_binary(missing, bytes); }).rfind(missing + ": cannot read file: ", 0), 0u);
  write_raw(dir.file("bad.json"), "{\"root\": [1, 2");
  nlohmann::ordered_json doc;
  EXPECT_EQ(error_text([&] { access::read_json(dir.file("bad.json"), doc); }), dir.file("bad.json") + ": malformed JSON");

  access::write_binary(dir.file("ok.bin"), {1, 2, 3, 4, 5, 6, 7, 8});
  const std::string good = testing::read_raw(dir.file("ok.bin"));
  write_raw(dir.file("short.bin"), good.substr(0, good.size() - 3));
  EXPECT_NE(error_text([&] { access::read_binary(dir.file("short.bin"), bytes); }).find(": truncated or oversized"),
            std::string::npos);
  std::string flipped = good;
  flipped.back() ^= 0x10;
  write_raw(dir.file("flip.bin"), flipped);
  EXPECT_EQ(error_text([&] { access::read_binary(dir.file("flip.bin"), bytes); }),
            dir.file("flip.bin") + ": corrupt binary file (checksum mismatch)");
  write_raw(dir.file("junk.bin"), "hello");
  EXPECT_EQ(error_text([&] { access::read_binary(dir.file("junk.bin"), bytes); }),
            dir.file("junk.bin") + ": not a tarvex binary file");
}

TEST(access, failed_write_keeps_the_previous_file) {
  scratch_folder dir;
  access::write_json(dir.file("keep.json"), {{"root", 1}});
  EXPECT_THROW(access::write_json(dir.file("no-such-folder/x.json"), {{"root", 2}}), Error);
  nlohmann::ordered_json doc;
  access::read_json(dir.file("keep.json"), doc);
  EXPECT_EQ(doc["root"], 1);
}

TEST(registry, register_replaces_and_find_misses_cleanly) {
  Registry<int> r;
  r.Register("a", 1);
  r.Register("a", 2);
  ASSERT_NE(r.find("a"), nullptr);
  EXPECT_EQ(*r.find("a"), 2);
  EXPECT_EQ(r.find("empty"), nullptr);
  EXPECT_EQ(r.size(), 1u);
}

}  // namespace
}  // namespace tarvex
