#pragma once
// File round trips and corrupt-input sweeps shared by the calibration settings tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <nlohmann/json.hpp>

#include "Core/demangle.h"
#include "Core/error.h"
#include "Core/multi_process_stream.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex::testing {

using json = nlohmann::ordered_json;

template <class C>
std::shared_ptr<const C> through_json_file(const scratch_folder& dir, const std::shared_ptr<const C>& object) {
  C::write_to_json(dir.file("object.json"), object);
  return C::read_from_json(dir.file("object.json"));
}

template <class C>
std::shared_ptr<const C> through_binary_file(const scratch_folder& dir, const std::shared_ptr<const C>& object) {
  C::write_to_binary(dir.file("object.bin"), object);
  return C::read_from_binary(dir.file("object.bin"));
}

// The bytes handed to the file layer (class name, then the fields).
template <class C>
std::vector<unsigned char> binary_payload(const scratch_folder& dir, const std::shared_ptr<const C>& object) {
  C::write_to_binary(dir.file("payload-source.bin"), object);
  std::vector<unsigned char> bytes;
  serialization::access::read_binary(dir.file("payload-source.bin"), bytes);
  return bytes;
}

// Reads `bytes` as a payload behind a valid file header.
template <class C>
std::shared_ptr<const C> read_payload(const scratch_folder& dir, const std::vector<unsigned char>& bytes) {
  serialization::access::write_binary(dir.file("payload.bin"), bytes);
  return C::read_from_binary(dir.file("payload.bin"));
}

// The Error text `read_payload` gives, or "no error".
template <class C>
std::string payload_error(const scratch_folder& dir, const std::vector<unsigned char>& bytes) {
  return error_text([&] { read_payload<C>(dir, bytes); });
}

// Every truncation of the payload fails with an Error naming the file; flipped bytes
// either fail or read something, never crash (the sanitizer preset checks that).
template <class C>
void expect_corrupt_binary_refused(const scratch_folder& dir, const std::shared_ptr<const C>& object) {
  const auto payload = binary_payload(dir, object);
  const std::string path = dir.file("payload.bin");
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    const std::vector<unsigned char> shorter(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(payload_error<C>(dir, shorter).rfind(path + ": ", 0), 0u) << "cut at " << cut;
  }
  for (std::size_t i = 0; i < payload.size(); ++i) {
    auto flipped = payload;
    flipped[i] ^= 0x80;
    try {
      read_payload<C>(dir, flipped);
    } catch (const std::exception&) {
    }
  }
  // The file layer refuses truncated files before decoding anything.
  C::write_to_binary(dir.file("whole.bin"), object);
  const std::string raw = read_raw(dir.file("whole.bin"));
  for (std::size_t cut : {std::size_t{0}, raw.size() / 2, raw.size() - 1}) {
    write_raw(dir.file("cut.bin"), raw.substr(0, cut));
    EXPECT_THROW(C::read_from_binary(dir.file("cut.bin")), Error) << cut;
  }
}

// Both registries hold C under its demangled name, and their entries write and read
// the same record as the class's own statics.
template <class C>
void expect_registered(const std::shared_ptr<const C>& object) {
  const std::string key = demangle(typeid(C));
  const auto* to_json = JsonSerializationRegistry().find(key);
  const auto* to_binary = BinarySerializationRegistry().find(key);
  ASSERT_NE(to_json, nullptr) << key;
  ASSERT_NE(to_binary, nullptr) << key;

  std::shared_ptr<const C> holder = object;
  json j;
  (*to_json)(j, &holder, false);
  EXPECT_EQ(j.dump(2), C::json_to_string(object));
  std::shared_ptr<const C> from_json;
  (*to_json)(j, &from_json, true);
  ASSERT_NE(from_json, nullptr);
  EXPECT_EQ(C::json_to_string(from_json), C::json_to_string(object));

  multi_process_stream s;
  (*to_binary)(s, &holder, false);
  std::shared_ptr<const C> from_binary;
  (*to_binary)(s, &from_binary, true);
  ASSERT_NE(from_binary, nullptr);
  EXPECT_EQ(s.remaining(), 0u);
  EXPECT_EQ(C::json_to_string(from_binary), C::json_to_string(object));
}

// A JSON file holding `object` with `change` applied to its record under "root".
template <class C, class Change>
std::string edited_json_file(const scratch_folder& dir, const std::shared_ptr<const C>& object, Change change) {
  json document{{"root", json::parse(C::json_to_string(object))}};
  change(document["root"]);
  serialization::access::write_json(dir.file("edited.json"), document);
  return dir.file("edited.json");
}

}  // namespace tarvex::testing
