#pragma once
#include <cstddef>
#include <functional>

namespace tarvex {

// Parallel loops on the oneTBB scheduler. The function receives sub-ranges
// [first, last) of at least `grain` items (but the last); each sub-range is run once.
class smp_tools_api {
 public:
  using range_function = void (*)(void* data, std::size_t first, std::size_t last, std::size_t grain);
  static smp_tools_api& GetInstance();

  // Runs function(data, a, b, grain) on sub-ranges of [first, last).
  void smp_tools_implForTBB(std::size_t first, std::size_t last, std::size_t grain, range_function function,
                            void* data) const;
  // Convenience form over a callable.
  void parallel_for(std::size_t first, std::size_t last, std::size_t grain,
                    const std::function<void(std::size_t, std::size_t)>& body) const;

  // 0 means all cores; 1 runs serially on the calling thread.
  void SetNumberOfThreads(std::size_t threads) noexcept { threads_ = threads; }
  std::size_t GetNumberOfThreads() const noexcept;

 private:
  smp_tools_api() = default;
  std::size_t threads_ = 0;
};

std::size_t GetNumberOfThreadsSTDThread() noexcept;

}  // namespace tarvex
