#pragma once
// Reading user JSON with errors that name the file, the JSON path of the bad field and
// what was expected, e.g.
//   market.json: $.curve.pillars[3].date: expected an ISO date (YYYY-MM-DD), got "2026-13-01"
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Util/datetime.h"
#include "Util/tenor.h"

namespace tarvex::app {

using json = nlohmann::ordered_json;

// Inputs are regular files of at most this size; documents nest at most this deep.
inline constexpr unsigned long long max_input_bytes = 64ull << 20;
inline constexpr std::size_t max_json_depth = 256;

// Whether `path` names (through links too) a file that json_node::load has read.
bool is_input_file(const std::string& path);

// A JSON value with its file and path, so every accessor can report where it failed.
class json_node {
 public:
  // Parses the file; a missing, unreadable, non-regular, oversized or malformed file is
  // an input_error.
  static json_node load(const std::string& file);
  json_node(const json& value, std::string file, std::string path);

  [[noreturn]] void fail(const std::string& expected) const;

  bool has(const char* key) const;
  json_node at(const char* key) const;  // required member of an object
  json_node at(std::size_t i) const;    // element of an array
  std::size_t size() const;             // of an array (checks it is one)

  double number() const;
  double positive_number() const;
  double non_negative_number() const;
  std::int64_t integer() const;
  std::size_t count() const;  // integer >= 1
  bool boolean() const;
  std::string text() const;
  datetime date() const;
  tenor period() const;
  std::vector<double> numbers() const;
  std::vector<datetime> ascending_dates() const;
  std::vector<tenor> periods() const;
  std::vector<std::vector<double>> number_table() const;  // array of equal-length arrays

  const json& value() const { return *value_; }
  const std::string& file() const { return file_; }
  const std::string& path() const { return path_; }

 private:
  std::shared_ptr<const json> owner_;  // keeps a loaded document alive
  const json* value_;
  std::string file_;
  std::string path_;
};

}  // namespace tarvex::app
