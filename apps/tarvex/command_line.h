#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarvex::app {

// The options of one subcommand: "--name value" pairs and bare "--flag"s. Anything not
// declared, a missing value or a repeated option is an input_error naming the command.
class command_line {
 public:
  // `valued` take a value, `flags` do not; "--help" is always accepted.
  command_line(const std::string& command, const std::vector<std::string>& args, const std::set<std::string>& valued,
               const std::set<std::string>& flags);

  bool help() const { return help_; }
  bool flag(const std::string& name) const { return flags_.count(name) > 0; }
  bool has(const std::string& name) const { return values_.count(name) > 0; }
  // The value of a required option.
  const std::string& value(const std::string& name) const;
  std::string value_or(const std::string& name, const std::string& fallback) const;

 private:
  std::string command_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  bool help_ = false;
};

}  // namespace tarvex::app
