#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace tarvex::app {

// A progress bar on standard error, drawn only when standard error is a terminal and
// only once the work has run for a second (short runs stay quiet). Thread-safe:
// parallel batches call advance() from their own threads.
class progress_bar {
 public:
  progress_bar(std::string label, std::size_t total);
  ~progress_bar();
  void advance(std::size_t done = 1);
  // Clears the line; called by the destructor too.
  void finish();

 private:
  void draw(std::size_t done);

  std::string label_;
  std::size_t total_;
  std::atomic<std::size_t> done_{0};
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool terminal_;
  bool drawn_ = false;
  std::mutex mutex_;
};

}  // namespace tarvex::app
