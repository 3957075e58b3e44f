#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "Core/aad_state_parameters_manager.h"
#include "Core/demangle.h"
#include "Core/logger.h"
#include "Core/parallel_for.h"
#include "Core/string_format.h"

namespace tarvex {
namespace {

struct two_blocks final : aad_state_parameters_manager {
  std::size_t a_offset, b_offset;
  two_blocks() {
    a_offset = reserve_state_parameters(2);
    b_offset = reserve_state_parameters(3);
    finish_layout();
  }
  std::size_t get_state_parameters(double*) const override { return state_parameters_size(); }
  std::size_t set_state_parameters(const double*) override { return state_parameters_size(); }
  void add(double v, std::size_t i, double* g) const { update_state_parameters(v, b_offset, i, g); }
  double* view(double* g) const { return get_state_parameters_aad(b_offset, 0, g); }
};

TEST(aad_state_parameters_manager, offsets_accumulation_and_finalize) {
  two_blocks m;
  EXPECT_EQ(m.a_offset, 0u);
  EXPECT_EQ(m.b_offset, 2u);
  EXPECT_EQ(m.state_parameters_size(), 5u);
  EXPECT_TRUE(m.state_parameters_layout_built());
  std::vector<double> g(5, 0.0);
  m.add(1.5, 1, g.data());
  m.add(2.0, 1, g.data());  // contributions sum
  EXPECT_EQ(g[3], 3.5);
  EXPECT_EQ(m.view(g.data()), g.data() + 2);
  m.finalize_aad(g.data());
  EXPECT_EQ(g, (std::vector<double>{0, 0, 0, 3.5, 0}));
}

TEST(core_services, demangle_center_and_fixed_format) {
  EXPECT_EQ(demangle(typeid(two_blocks)), "tarvex::(anonymous namespace)::two_blocks");
  EXPECT_EQ(demangle("not a mangled name"), "not a mangled name");  // falls back to the input
  EXPECT_EQ(center("ab", 6), "  ab  ");
  EXPECT_EQ(center("abc", 6), " abc  ");
  EXPECT_EQ(center("toolong", 3), "toolong");
  EXPECT_EQ(to_string(3.14159, 8, 3), "   3.142");
}

std::vector<std::string> captured;
void capture(int, const std::string& line) { captured.push_back(line); }

TEST(logger, cutoff_filters_and_printf_formats) {
  logger::SetSink(capture);
  const int old = logger::GetCurrentVerbosityCutoff();
  logger::SetVerbosityCutoff(static_cast<int>(verbosity::info));
  logger::LogF(static_cast<int>(verbosity::debug), "Library/a.cpp", 1, "%d", 1);
  logger::LogF(static_cast<int>(verbosity::info), "/x/Library/a.cpp", 12, "fit %5.2f bp", 1.234);
  logger::SetVerbosityCutoff(old);
  logger::SetSink(nullptr);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "[2] Library/a:12 fit  1.23 bp");
}

TEST(parallel_for, covers_every_index_once_with_any_thread_count) {
  for (std::size_t threads : {1u, 2u, 0u}) {
    auto& smp = smp_tools_api::GetInstance();
    smp.SetNumberOfThreads(threads);
    std::vector<std::atomic<int>> hits(1000);
    smp.parallel_for(0, hits.size(), 7, [&](std::size_t a, std::size_t b) {
      for (std::size_t i = a; i < b; ++i) hits[i]++;
    });
    for (auto& h : hits) ASSERT_EQ(h.load(), 1) << threads;
    smp.SetNumberOfThreads(0);
  }
}

}  // namespace
}  // namespace tarvex
