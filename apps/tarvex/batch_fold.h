#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace tarvex::app {

// Hands a parallel loop's batches out in increasing order and folds their results in
// that order, one at a time, whichever thread ran them: what is folded does not depend
// on the thread count. Each body call of the loop claims one batch, runs it and hands
// the result to done(). Because batches are claimed in order, a result waits only for
// the earlier batches still running, so about one result per thread is held at once
// (the parallel loop's own split of the range into blocks would hold up to half).
template <class Result>
class batch_fold {
 public:
  explicit batch_fold(std::function<void(std::size_t batch, Result&& result)> fold) : fold_(std::move(fold)) {}

  // The next batch to run.
  std::size_t claim() { return next_.fetch_add(1); }

  // Folds `result` once every earlier batch has been folded, and every later one that
  // was waiting for it; the thread that finds the fold idle does the folding.
  void done(std::size_t batch, Result&& result) {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.emplace(batch, std::move(result));
    if (folding_) return;
    folding_ = true;
    for (auto it = waiting_.find(folded_); it != waiting_.end(); it = waiting_.find(folded_)) {
      Result r = std::move(it->second);
      waiting_.erase(it);
      lock.unlock();
      try {
        fold_(folded_, std::move(r));
      } catch (...) {
        lock.lock();
        folding_ = false;
        throw;
      }
      lock.lock();
      ++folded_;
    }
    folding_ = false;
  }

  // Batches folded so far.
  std::size_t folded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return folded_;
  }

 private:
  std::function<void(std::size_t, Result&&)> fold_;
  std::atomic<std::size_t> next_{0};
  mutable std::mutex mutex_;
  std::map<std::size_t, Result> waiting_;
  std::size_t folded_ = 0;  // read by the folding thread alone between locks
  bool folding_ = false;
};

}  // namespace tarvex::app
