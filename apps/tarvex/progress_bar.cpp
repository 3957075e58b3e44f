#include "progress_bar.h"

#include <cstdio>
#include <unistd.h>

namespace tarvex::app {

progress_bar::progress_bar(std::string label, std::size_t total)
    : label_(std::move(label)), total_(total == 0 ? 1 : total), start_(std::chrono::steady_clock::now()),
      terminal_(::isatty(STDERR_FILENO) == 1) {}

progress_bar::~progress_bar() { finish(); }

void progress_bar::advance(std::size_t done) {
  const std::size_t now = done_.fetch_add(done) + done;
  if (!terminal_) return;
  if (std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
  draw(now);
}

void progress_bar::draw(std::size_t done) {
  // Redrawn ten times a second at most; a thread finding another drawing skips its turn.
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double share = done > total_ ? 1.0 : double(done) / double(total_);
  constexpr int width = 30;
  const int filled = static_cast<int>(share * width);
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled, "==============================",
               width - filled, "", static_cast<int>(100.0 * share));
  std::fflush(stderr);
  drawn_ = true;
}

void progress_bar::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 40, "");
    std::fflush(stderr);
    drawn_ = false;
  }
}

}  // namespace tarvex::app
