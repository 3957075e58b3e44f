#include "json_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

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

// JSON paths as the messages print them; indices count from 0.
struct path_level {
  bool array;
  std::size_t count;  // elements begun so far, in an array
  std::string key;    // the current key, in an object
};

std::string path_text(const std::vector<path_level>& levels) {
  std::string path = "$";
  for (const auto& l : levels) path += l.array ? "[" + std::to_string(l.count - 1) + "]" : "." + l.key;
  return path;
}

// Builds the document as the library's own parser would, and tracks where it is, so
// that a number too large for a double is reported at its path like any other bad
// number, and nesting is refused at a depth nothing legitimate reaches, before the
// recursive walks (printing a value, say) could overflow the stack.
class bounded_parser {
 public:
  bounded_parser(json& document, const std::string& file) : dom_(document), file_(file) {}

  bool null() { return begin() && dom_.null(); }
  bool boolean(bool v) { return begin() && dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return begin() && dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) { return begin() && dom_.number_unsigned(v); }
  bool number_float(json::number_float_t v, const json::string_t& s) { return begin() && dom_.number_float(v, s); }
  bool string(json::string_t& v) { return begin() && dom_.string(v); }
  bool binary(json::binary_t& v) { return begin() && dom_.binary(v); }
  bool start_object(std::size_t n) { return open(false) && dom_.start_object(n); }
  bool key(json::string_t& k) {
    levels_.back().key = k;
    return dom_.key(k);
  }
  bool end_object() {
    levels_.pop_back();
    return dom_.end_object();
  }
  bool start_array(std::size_t n) { return open(true) && dom_.start_array(n); }
  bool end_array() {
    levels_.pop_back();
    return dom_.end_array();
  }
  bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& e) {
    if (e.id == 406) {  // a number beyond the range of a double
      begin();
      throw input_error(file_ + ": " + shortened(path_text(levels_)) + ": expected a finite number, got " + token);
    }
    throw input_error(file_ + ": not valid JSON (" + std::string(e.what()) + ")");
  }

 private:
  static std::string shortened(std::string path) {
    if (path.size() > 80) path = path.substr(0, 77) + "...";
    return path;
  }
  // A value starts: it is the next element of an enclosing array.
  bool begin() {
    if (!levels_.empty() && levels_.back().array) ++levels_.back().count;
    return true;
  }
  bool open(bool array) {
    begin();
    if (levels_.size() >= max_json_depth)
      throw input_error(file_ + ": " + shortened(path_text(levels_)) + ": expected at most " +
                        std::to_string(max_json_depth) + " levels of nesting");
    levels_.push_back({array, 0, {}});
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<json> dom_;
  const std::string& file_;
  std::vector<path_level> levels_;
};

void parse_bounded(const std::string& text, const std::string& file, json& document) {
  bounded_parser parser(document, file);
  if (!json::sax_parse(text, &parser)) throw input_error(file + ": not valid JSON");
}

// The inputs read so far, by device and inode, so an output can be told from them.
std::vector<std::pair<dev_t, ino_t>>& inputs_read() {
  static std::vector<std::pair<dev_t, ino_t>> inputs;
  return inputs;
}

// Opened without blocking (a FIFO without a writer would wait forever), then held to a
// regular file of bounded size: /dev/zero never ends.
std::string read_input_file(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw input_error(file + ": cannot open the file");
  struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } close_at_end{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw input_error(file + ": cannot open the file");
  if (!S_ISREG(st.st_mode)) throw input_error(file + ": not a regular file");
  const auto too_large = [&](unsigned long long bytes) {
    return input_error(file + ": too large (" + std::to_string(bytes) + " bytes; an input may have at most " +
                       std::to_string(max_input_bytes >> 20) + " MiB)");
  };
  if (static_cast<unsigned long long>(st.st_size) > max_input_bytes) throw too_large(st.st_size);
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw input_error(file + ": cannot read the file (" + std::strerror(errno) + ")");
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > max_input_bytes) throw too_large(text.size());  // grew while read
  }
  inputs_read().emplace_back(st.st_dev, st.st_ino);
  return text;
}

}  // namespace

bool is_input_file(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  for (const auto& [dev, ino] : inputs_read())
    if (dev == st.st_dev && ino == st.st_ino) return true;
  return false;
}

json_node json_node::load(const std::string& file) {
  const std::string text = read_input_file(file);
  auto document = std::make_shared<json>();
  parse_bounded(text, file, *document);
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
  // Unsigned values above the signed range would wrap around.
  if (value_->is_number_unsigned() && value_->get<std::uint64_t>() > std::uint64_t{INT64_MAX}) fail("an integer");
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
