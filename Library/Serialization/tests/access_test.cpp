#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Core/check.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using serialization::access;

struct scratch_folder {
  fs::path path = fs::temp_directory_path() / ("tarvex-access-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  scratch_folder() { fs::create_directories(path); }
  ~scratch_folder() { fs::remove_all(path); }
  std::string file(const char* name) const { return (path / name).string(); }
  std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path), {})); }
};

std::string error_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

void write_raw(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

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
  std::string good;
  {
    std::ifstream in(dir.file("ok.bin"), std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
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
