#include "command_line.h"

#include "input_error.h"

namespace tarvex::app {

command_line::command_line(const std::string& command, const std::vector<std::string>& args,
                           const std::set<std::string>& valued, const std::set<std::string>& flags)
    : command_(command) {
  const std::string hint = " (see 'tarvex " + command + " --help')";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      help_ = true;
      continue;
    }
    if (a.rfind("-", 0) != 0) throw input_error("tarvex " + command + ": unexpected argument '" + a + "'" + hint);
    if (valued.count(a)) {
      if (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0)
        throw input_error("tarvex " + command + ": option " + a + " needs a value" + hint);
      if (!values_.emplace(a, args[i + 1]).second)
        throw input_error("tarvex " + command + ": option " + a + " given twice");
      ++i;
    } else if (flags.count(a)) {
      flags_.insert(a);
    } else {
      throw input_error("tarvex " + command + ": unknown option '" + a + "'" + hint);
    }
  }
}

const std::string& command_line::value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end())
    throw input_error("tarvex " + command_ + ": missing option " + name + " (see 'tarvex " + command_ + " --help')");
  return it->second;
}

std::string command_line::value_or(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

}  // namespace tarvex::app
