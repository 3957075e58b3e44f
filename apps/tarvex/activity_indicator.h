#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvex::app {

// The progress bar of work whose length is not known in advance (an optimiser stops when
// it converges): a bouncing bar with the elapsed time on standard error, drawn from its
// own thread only when standard error is a terminal and the work has run for a second.
class activity_indicator {
 public:
  explicit activity_indicator(std::string label);
  ~activity_indicator();
  activity_indicator(const activity_indicator&) = delete;
  activity_indicator& operator=(const activity_indicator&) = delete;
  // Stops drawing and clears the line; called by the destructor too.
  void finish();

 private:
  void run();

  std::string label_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tarvex::app
