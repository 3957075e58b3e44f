#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Analytics/parameters/parameter_cheyette.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;
using testing::scratch_folder;
using chey = parameter_cheyette;

std::shared_ptr<const parameter_markovian_hjm> hjm_set(std::size_t n) {
  matrix<double> k(2, n), s(3, n), c(n, n);
  for (std::size_t f = 0; f < n; ++f) {
    k(0, f) = 0.02 + 0.1 * f, k(1, f) = 0.03 + 0.1 * f;
    for (std::size_t r = 0; r < 3; ++r) s(r, f) = 0.01 + 0.001 * r + 0.002 * f;
    for (std::size_t g = 0; g < n; ++g) c(f, g) = f == g ? 1.0 : 0.4;
  }
  return std::make_shared<const parameter_markovian_hjm>(
      k, s, c, std::vector<datetime>{datetime(46100.0), datetime(46500.0)},
      std::vector<datetime>{datetime(46100.0), datetime(46400.0), datetime(46800.0)},
      std::make_shared<const day_count_convention>(day_count_convention_type::act_act_isda,
                                             std::make_shared<const calendar>(true, std::vector<datetime>{datetime(46200.0)})),
      parameter_markovian_hjm_type::mean_reversion);
}

std::shared_ptr<const chey> make(std::size_t n, std::size_t rows) {
  matrix<double> skew(rows, n);
  std::vector<datetime> dates;
  for (std::size_t r = 0; r < rows; ++r) {
    dates.emplace_back(46100.0 + 200.0 * r);
    for (std::size_t f = 0; f < n; ++f) skew(r, f) = 3.0 + r - 2.0 * f;
  }
  return std::make_shared<const chey>(hjm_set(n), skew, dates, 0.7);
}

std::vector<double> state_of(const aad_state_parameters_manager& p) {
  std::vector<double> s(p.state_parameters_size());
  EXPECT_EQ(p.get_state_parameters(s.data()), s.size());
  return s;
}

TEST(parameter_cheyette, validation_message) {
  const auto build = [] { chey(hjm_set(2), matrix<double>(2, 2), {datetime(1.0), datetime(2.0), datetime(3.0)}, 0.1); };
  EXPECT_EQ(error_text(build),
            "Expected skew_parameter_.rows() == skew_parameter_dates_.size() to be true, but got false.  decays size 2 "
            "is differents from decays dates size 3");
  try {
    build();
  } catch (const Error& e) {
    EXPECT_EQ(e.location().function, "validate");
    EXPECT_EQ(e.location().file, "Library/Analytics/parameters/parameter_cheyette");
  }
  EXPECT_EQ(error_text([] { chey(hjm_set(2), matrix<double>(1, 3), {datetime(1.0)}, 0.1); }),
            "Expected skew_parameter_.columns() == parameters_->number_of_factors() to be true, but got false.  skew "
            "number of factors 3 is differents from number of factors 2");
  EXPECT_EQ(error_text([] { chey(nullptr, matrix<double>(1, 1), {datetime(1.0)}, 0.1); }),
            "parameter_cheyette needs markovian hjm parameters");
}

TEST(parameter_cheyette, layout_puts_the_hjm_block_first_and_the_level_last) {
  for (std::size_t n : {1u, 2u, 3u}) {
    const auto p = make(n, 3);
    const std::size_t d = p->parameters()->state_parameters_size();
    EXPECT_EQ(p->state_parameters_size(), d + 3 * n + 1) << n;
    EXPECT_EQ(p->skew_parameter_offset(), d);
    EXPECT_EQ(p->long_term_skew_level_offset(), d + 3 * n);
    const auto s = state_of(*p);
    const auto h = state_of(*p->parameters());
    EXPECT_TRUE(std::equal(h.begin(), h.end(), s.begin())) << n;
    EXPECT_EQ(s[d + n + 1 % n], p->skew_parameter()(1, 1 % n));
    EXPECT_EQ(s.back(), 0.7);

    // set writes through to the shared HJM set; get of the result gives the buffer back.
    auto q = std::const_pointer_cast<chey>(make(n, 3));
    auto moved = s;
    for (auto& v : moved) v *= 1.5;
    for (std::size_t k = 0; k < h.size(); ++k)  // keep a valid correlation
      if (k >= p->parameters()->correlation_offset()) moved[k] = s[k];
    EXPECT_EQ(q->set_state_parameters(moved.data()), s.size());
    EXPECT_EQ(state_of(*q), moved);
    EXPECT_EQ(q->parameters()->volatilities()(0, 0), 1.5 * p->parameters()->volatilities()(0, 0));
    EXPECT_EQ(q->long_term_skew_level(), 0.7 * 1.5);
  }
}

TEST(parameter_cheyette, adjoints_accumulate_into_their_positions) {
  const auto p = make(2, 3);
  std::vector<double> g(p->state_parameters_size(), 0.0);
  p->skew_parameter_aad(vector<double>{1.0, 2.0}, 2, g.data());
  p->skew_parameter_aad(vector<double>{0.5, 0.0}, 2, g.data());
  p->long_term_skew_level_aad(3.0, g.data());
  p->long_term_skew_level_aad(-1.0, g.data());
  const std::size_t s = p->skew_parameter_offset();
  for (std::size_t k = 0; k < g.size(); ++k) {
    const double expected = k == s + 4 ? 1.5 : k == s + 5 ? 2.0 : k + 1 == g.size() ? 2.0 : 0.0;
    EXPECT_EQ(g[k], expected) << k;
  }
  p->finalize_aad(g.data());
  EXPECT_EQ(g.back(), 2.0);
}

TEST(parameter_cheyette, json_and_binary_round_trips_keep_the_nested_hjm_set) {
  scratch_folder dir;
  for (const auto& p : {make(1, 2), make(2, 3)}) {
    const auto text = chey::json_to_string(p);
    const auto j = nlohmann::ordered_json::parse(text);
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"Class", "parameters", "skew_parameter", "skew_parameter_dates",
                                              "long_term_skew_level"}));
    EXPECT_EQ(j["Class"], "tarvex::parameter_cheyette");
    EXPECT_EQ(j["parameters"]["Class"], "tarvex::parameter_markovian_hjm");
    chey::write_to_json(dir.file("c.json"), p);
    chey::write_to_binary(dir.file("c.bin"), p);
    for (const auto& back : {chey::read_from_json(dir.file("c.json")), chey::read_from_binary(dir.file("c.bin"))}) {
      EXPECT_EQ(state_of(*back), state_of(*p));
      EXPECT_EQ(back->skew_parameter_dates(), p->skew_parameter_dates());
      EXPECT_EQ(back->parameters()->volatilities_dates(), p->parameters()->volatilities_dates());
      EXPECT_EQ(chey::json_to_string(back), text);
    }
  }
  // A truncated binary file is refused, not read past its end.
  const auto bytes = testing::read_raw(dir.file("c.bin"));
  testing::write_raw(dir.file("cut.bin"), bytes.substr(0, bytes.size() / 2));
  EXPECT_THROW(chey::read_from_binary(dir.file("cut.bin")), std::exception);
}

}  // namespace
}  // namespace tarvex
