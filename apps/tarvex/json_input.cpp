#include "json_input.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "input_error.h"

namespace tarvex::app {
namespace {

std::string shown(const json& v) {
  std::string s = v.dump();
  if (s.size() > 40) s = s.substr(0, 37) + "...";
  return s;
}

// The reading of a date is checked by printing it back: anything that does not print
// as it reads (2026-02-30, 2026-1-5) is refused.
bool is_iso_date(const std::string& s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  try {
    return datetime::from_string(s).to_string() == s;
  } catch (...) {
    return false;
  }
}

}  // namespace

json_node json_node::load(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw input_error(file + ": cannot open the file");
  std::stringstream text;
  text << in.rdbuf();
  auto document = std::make_shared<json>();
  try {
    *document = json::parse(text.str());
  } catch (const json::parse_error& e) {
    throw input_error(file + ": not valid JSON (" + std::string(e.what()) + ")");
  }
  json_node node(*document, file, "$");
  node.owner_ = document;
  return node;
}

json_node::json_node(const json& value, std::string file, std::string path)
    : value_(&value), file_(std::move(file)), path_(std::move(path)) {}

void json_node::fail(const std::string& expected) const {
  throw input_error(file_ + ": " + path_ + ": expected " + expected + ", got " + shown(*value_));
}

bool json_node::has(const char* key) const { return value_->is_object() && value_->contains(key); }

json_node json_node::at(const char* key) const {
  if (!value_->is_object()) fail("an object");
  auto it = value_->find(key);
  if (it == value_->end())
    throw input_error(file_ + ": " + path_ + ": missing field \"" + key + "\"");
  json_node child(*it, file_, path_ + "." + key);
  child.owner_ = owner_;
  return child;
}

json_node json_node::at(std::size_t i) const {
  if (!value_->is_array()) fail("an array");
  if (i >= value_->size()) fail("an array of at least " + std::to_string(i + 1) + " elements");
  json_node child((*value_)[i], file_, path_ + "[" + std::to_string(i) + "]");
  child.owner_ = owner_;
  return child;
}

std::size_t json_node::size() const {
  if (!value_->is_array()) fail("an array");
  return value_->size();
}

double json_node::number() const {
  if (!value_->is_number()) fail("a number");
  const double v = value_->get<double>();
  if (!std::isfinite(v)) fail("a finite number");
  return v;
}

double json_node::positive_number() const {
  const double v = number();
  if (!(v > 0.0)) fail("a positive number");
  return v;
}

double json_node::non_negative_number() const {
  const double v = number();
  if (v < 0.0) fail("a non-negative number");
  return v;
}

std::int64_t json_node::integer() const {
  if (!value_->is_number_integer()) fail("an integer");
  return value_->get<std::int64_t>();
}

std::size_t json_node::count() const {
  const std::int64_t v = integer();
  if (v < 1) fail("a positive integer");
  return static_cast<std::size_t>(v);
}

bool json_node::boolean() const {
  if (!value_->is_boolean()) fail("true or false");
  return value_->get<bool>();
}

std::string json_node::text() const {
  if (!value_->is_string()) fail("a string");
  return value_->get<std::string>();
}

datetime json_node::date() const {
  if (!value_->is_string() || !is_iso_date(value_->get<std::string>())) fail("an ISO date (YYYY-MM-DD)");
  return datetime::from_string(value_->get<std::string>());
}

tenor json_node::period() const {
  if (!value_->is_string()) fail("a tenor such as \"3M\" or \"10Y\"");
  try {
    return tenor(value_->get<std::string>());
  } catch (...) {
    fail("a tenor such as \"3M\" or \"10Y\"");
  }
}

std::vector<double> json_node::numbers() const {
  std::vector<double> out(size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = at(i).number();
  return out;
}

std::vector<datetime> json_node::ascending_dates() const {
  std::vector<datetime> out(size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = at(i).date();
    if (i > 0 && !(out[i - 1] < out[i])) at(i).fail("a date after " + out[i - 1].to_string() + " (ascending dates)");
  }
  return out;
}

std::vector<tenor> json_node::periods() const {
  std::vector<tenor> out;
  for (std::size_t i = 0; i < size(); ++i) out.push_back(at(i).period());
  return out;
}

std::vector<std::vector<double>> json_node::number_table() const {
  std::vector<std::vector<double>> out(size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = at(i).numbers();
    if (i > 0 && out[i].size() != out[0].size())
      at(i).fail("a row of " + std::to_string(out[0].size()) + " numbers");
  }
  return out;
}

}  // namespace tarvex::app
