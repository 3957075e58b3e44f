#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace tarvex {

// Process-wide map from a demangled class name to its serializer. Filled at load time
// under the lock; lookups while reading take no lock, so registration must be over
// before objects are read (it is: registration runs during static initialisation).
template <class Function>
class Registry {
 public:
  // Registers `function` under `key`, replacing what was there.
  void Register(const std::string& key, Function function) {
    std::lock_guard lock(mutex_);
    functions_[key] = std::move(function);
  }
  // The function registered under `key`, or nullptr.
  const Function* find(const std::string& key) const {
    const auto it = functions_.find(key);
    return it == functions_.end() ? nullptr : &it->second;
  }
  std::size_t size() const { return functions_.size(); }

 private:
  std::map<std::string, Function> functions_;
  std::mutex mutex_;
};

}  // namespace tarvex
