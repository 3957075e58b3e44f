#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Analytics/calibration/tests/serialization_checks.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Analytics/parameters/tests/bk_test_parameters.h"

namespace tarvex {
namespace {

using namespace bk_testing;
using testing::error_text;
using testing::scratch_folder;
using bk = parameter_black_karasinski;

std::shared_ptr<bk> three_levels() { return with_levels(hjm_part(0.1, 0.5, 0.8), yearly(3), {0.01, 0.02, 0.03}, 5, 20); }

std::vector<double> state_of(const bk& p) {
  std::vector<double> s(p.state_parameters_size());
  EXPECT_EQ(p.get_state_parameters(s.data()), s.size());
  return s;
}

void expect_identical(const bk& a, const bk& b) {
  EXPECT_EQ(a.levels_parameter(), b.levels_parameter());
  EXPECT_EQ(a.levels_parameter_dates(), b.levels_parameter_dates());
  EXPECT_EQ(a.time_step_in_days(), b.time_step_in_days());
  EXPECT_EQ(a.number_of_roots(), b.number_of_roots());
  EXPECT_EQ(a.levels_offset(), b.levels_offset());
  EXPECT_EQ(state_of(a), state_of(b));
  EXPECT_EQ(a.parameters()->volatilities_dates(), b.parameters()->volatilities_dates());
}

TEST(parameter_black_karasinski, check_texts) {
  const auto two = std::make_shared<parameter_markovian_hjm>(
      matrix<double>(1, 2, 0.1), matrix<double>(1, 2, 0.2), matrix<double>{{1.0, 0.0}, {0.0, 1.0}},
      std::vector<datetime>{valuation}, std::vector<datetime>{valuation}, nullptr,
      parameter_markovian_hjm_type::mean_reversion);
  EXPECT_EQ(error_text([&] { bk(two, {0.0}, {valuation}, 7, 10); }), "parameter_black_karasinski supports one factor");
  EXPECT_EQ(error_text([&] { bk(hjm_part(0.1, 0.2), {0.0, 0.1, 0.2}, yearly(2), 7, 10); }),
            "Expected levels_parameter_.size() == levels_parameter_dates_.size() to be true, but got false.  bk "
            "levels size 3 is differents from dates size 2");
  try {
    bk(two, {0.0}, {valuation}, 7, 10);
  } catch (const Error& e) {
    EXPECT_EQ(e.location().function, "validate");
    EXPECT_EQ(e.location().file, "Library/Analytics/parameters/parameter_black_karasinski");
  }
}

TEST(parameter_black_karasinski, layout_offsets_and_adjoint_positions) {
  const auto p = three_levels();
  const std::size_t k = p->parameters()->state_parameters_size();  // 1 decay + 2 volatilities
  ASSERT_EQ(k, 3u);
  EXPECT_EQ(p->levels_offset(), k);
  EXPECT_EQ(p->state_parameters_size(), k + 3);
  auto s = state_of(*p);
  for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(s[k + j], p->levels_parameter()[j]);
  EXPECT_EQ(s[1], 0.5);

  std::vector<double> g(p->state_parameters_size(), 0.0);
  p->levels_parameter_aad(2.5, 2, g.data());
  p->levels_parameter_aad(1.0, 2, g.data());
  for (std::size_t i = 0; i < g.size(); ++i) EXPECT_EQ(g[i], i == k + 2 ? 3.5 : 0.0) << i;

  // set after get restores; a changed level lands in the level, a changed
  // volatility in the shared HJM part.
  s[k + 1] = -3.0;
  s[2] = 0.7;
  EXPECT_EQ(p->set_state_parameters(s.data()), k + 3);
  EXPECT_EQ(p->levels_parameter()[1], -3.0);
  EXPECT_EQ(p->parameters()->volatilities()(1, 0), 0.7);

  EXPECT_EQ(p->levels_parameter_offset(yearly(3)[1]), 1u);
  EXPECT_EQ(p->levels_parameter_offset(yearly(3)[1].add_days(-1)), 0u);
  EXPECT_EQ(p->levels_parameter_offset(datetime(2020, 1, 1)), 0u);
  EXPECT_EQ(p->levels_parameter_offset(datetime(2040, 1, 1)), 2u);
  EXPECT_EQ(p->mean_reversion(), 0.1);
}

TEST(parameter_black_karasinski, json_and_binary_round_trips_and_corrupt_files) {
  scratch_folder dir;
  const std::shared_ptr<const bk> p = three_levels();
  const auto j = nlohmann::ordered_json::parse(bk::json_to_string(p));
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "parameters", "levels_parameter", "levels_parameter_dates",
                                            "time_step_in_days", "number_of_roots"}));
  EXPECT_EQ(j["parameters"]["Class"], "tarvex::parameter_markovian_hjm");
  EXPECT_EQ(j["time_step_in_days"], 5);
  EXPECT_EQ(j["levels_parameter_dates"][1].get<double>(), yearly(3)[1].value());

  expect_identical(*testing::through_json_file(dir, p), *p);
  expect_identical(*testing::through_binary_file(dir, p), *p);

  // Binary order: name, the HJM record, levels, dates, two shorts.
  const auto payload = testing::binary_payload(dir, p);
  multi_process_stream tail;
  tail << std::uint32_t{3};
  for (double l : p->levels_parameter()) tail << l;
  tail << std::uint32_t{3};
  for (const auto& d : p->levels_parameter_dates()) tail << d.value();
  tail << std::int16_t{5} << std::int16_t{20};
  const auto expected_tail = tail.GetRawData();
  ASSERT_GT(payload.size(), expected_tail.size());
  EXPECT_TRUE(std::equal(expected_tail.begin(), expected_tail.end(), payload.end() - long(expected_tail.size())));

  testing::expect_corrupt_binary_refused(dir, p);
  using json = nlohmann::ordered_json;
  EXPECT_EQ(error_text([&] {
              bk::read_from_json(testing::edited_json_file(dir, p, [](json& r) { r["levels_parameter"].erase(0); }));
            }),
            "Expected levels_parameter_.size() == levels_parameter_dates_.size() to be true, but got false.  bk "
            "levels size 2 is differents from dates size 3");
  EXPECT_EQ(error_text([&] {
              bk::read_from_json(testing::edited_json_file(dir, p, [](json& r) { r["parameters"] = {{"Class", "empty"}}; }));
            }),
            "parameter_black_karasinski needs a Markovian HJM part");
  EXPECT_THROW(bk::read_from_json(testing::edited_json_file(dir, p, [](json& r) { r.erase("number_of_roots"); })),
               json::out_of_range);
}

}  // namespace
}  // namespace tarvex
