#include "Core/parallel_for.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <map>
#include <memory>
#include <mutex>
#include <thread>

// ThreadSanitizer does not see the hand-off inside oneTBB's scheduler (libtbb is not
// instrumented): parallel_for below declares it, so the caller's writes happen before
// every chunk and every chunk before the return. This is the only annotation needed.
#if defined(__SANITIZE_THREAD__)
#define TARVEX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVEX_TSAN 1
#endif
#endif
#ifdef TARVEX_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace tarvex {
namespace {
#ifdef TARVEX_TSAN
void happens_before(void* token) { __tsan_release(token); }
void happens_after(void* token) { __tsan_acquire(token); }
#else
void happens_before(void*) {}
void happens_after(void*) {}
#endif
}  // namespace

smp_tools_api& smp_tools_api::GetInstance() {
  static smp_tools_api instance;
  return instance;
}

namespace {

// One arena per requested thread count, kept for the life of the program: building an
// arena per call costs far more than the small loops (one calibration residual row per
// target) it would run.
tbb::task_arena& arena_for(std::size_t threads) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<tbb::task_arena>> arenas;
  std::lock_guard lock(mutex);
  auto& a = arenas[threads];
  if (!a) a = std::make_unique<tbb::task_arena>(static_cast<int>(threads));
  return *a;
}

}  // namespace

std::size_t GetNumberOfThreadsSTDThread() noexcept {
  const auto n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

std::size_t smp_tools_api::GetNumberOfThreads() const noexcept {
  return threads_ == 0 ? static_cast<std::size_t>(tbb::this_task_arena::max_concurrency()) : threads_;
}

void smp_tools_api::parallel_for(std::size_t first, std::size_t last, std::size_t grain,
                                 const std::function<void(std::size_t, std::size_t)>& body) const {
  if (last <= first) return;
  if (grain == 0) grain = 1;
  if (threads_ == 1 || last - first <= grain) {
    body(first, last);
    return;
  }
  char token = 0;
  happens_before(&token);
  auto run = [&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(first, last, grain), [&](const tbb::blocked_range<std::size_t>& r) {
      happens_after(&token);
      body(r.begin(), r.end());
      happens_before(&token);
    });
  };
  if (threads_ == 0) {
    run();
  } else {
    arena_for(threads_).execute(run);
  }
  happens_after(&token);
}

void smp_tools_api::smp_tools_implForTBB(std::size_t first, std::size_t last, std::size_t grain,
                                         range_function function, void* data) const {
  parallel_for(first, last, grain, [&](std::size_t a, std::size_t b) { function(data, a, b, grain); });
}

}  // namespace tarvex
