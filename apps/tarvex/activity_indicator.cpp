#include "activity_indicator.h"

#include <cstdio>
#include <unistd.h>

namespace tarvex::app {

activity_indicator::activity_indicator(std::string label)
    : label_(std::move(label)), start_(std::chrono::steady_clock::now()) {
  if (::isatty(STDERR_FILENO) == 1) thread_ = std::thread([this] { run(); });
}

activity_indicator::~activity_indicator() { finish(); }

void activity_indicator::finish() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void activity_indicator::run() {
  constexpr int width = 20;
  bool drawn = false;
  std::unique_lock lock(mutex_);
  if (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
    for (int tick = 0; !stop_; ++tick) {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      const int period = 2 * (width - 3), phase = tick % period;
      const int at = phase < width - 3 ? phase : period - phase;
      std::fprintf(stderr, "\r%s [%*s<=>%*s] %.1f s", label_.c_str(), at, "", width - 3 - at, "", seconds);
      std::fflush(stderr);
      drawn = true;
      wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; });
    }
  }
  if (drawn) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + width + 16, "");
    std::fflush(stderr);
  }
}

}  // namespace tarvex::app
