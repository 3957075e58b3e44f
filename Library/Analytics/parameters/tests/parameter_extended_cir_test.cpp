#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "Analytics/parameters/parameter_extended_cir.h"
#include "Analytics/calibration/tests/serialization_checks.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"

namespace tarvex {
namespace {

using testing::error_text;
using testing::scratch_folder;
using cir = parameter_extended_cir;

std::vector<datetime> dates_from(std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i) d.emplace_back(46027.0 + 365.0 * double(i));
  return d;
}

matrix<double> filled(std::size_t rows, std::size_t columns, double base) {
  matrix<double> m(rows, columns);
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < columns; ++c) m(r, c) = base * double(1 + r) + 0.001 * double(c);
  return m;
}

matrix<double> correlation(std::size_t n, double r = 0.25) {
  matrix<double> c(n, n, r);
  for (std::size_t i = 0; i < n; ++i) c(i, i) = 1.0;
  return c;
}

std::shared_ptr<const cir> make(std::size_t k_rows, std::size_t s_rows, std::size_t p_rows, std::size_t n,
                                bool extended) {
  const auto conv = std::make_shared<const day_count_convention>(
      day_count_convention_type::act_360, std::make_shared<const calendar>(true, std::vector<datetime>{}));
  if (!extended)
    return std::make_shared<const cir>(filled(k_rows, n, 0.3), filled(s_rows, n, 0.05), filled(p_rows, n, 0.01),
                                       correlation(n), dates_from(k_rows), dates_from(s_rows), dates_from(p_rows), conv);
  return std::make_shared<const cir>(filled(k_rows, n, 0.3), filled(s_rows, n, 0.05), filled(p_rows, n, 0.01),
                                     correlation(n), dates_from(k_rows), dates_from(s_rows), dates_from(p_rows), conv,
                                     filled(k_rows, n, 0.02), std::vector<double>(n, 0.015));
}

std::vector<double> state_of(const cir& p) {
  std::vector<double> s(p.state_parameters_size());
  EXPECT_EQ(p.get_state_parameters(s.data()), s.size());
  return s;
}

TEST(parameter_extended_cir, validation_messages_in_order) {
  const auto build = [](std::size_t kr, std::size_t kd, std::size_t sr, std::size_t sd, std::size_t pr,
                        std::size_t pd, const matrix<double>& c) {
    return [=] { cir(filled(kr, 2, 0.3), filled(sr, 2, 0.1), filled(pr, 2, 0.0), c, dates_from(kd), dates_from(sd),
                     dates_from(pd), nullptr); };
  };
  EXPECT_EQ(error_text(build(3, 2, 4, 3, 5, 4, correlation(2))),
            "Expected mean_reversion_speeds_.rows() == mean_reversion_speed_dates_.size() to be true, but got false.  "
            "mean_reversion_speeds size 3 is differents from mean_reversion_speeds dates size 2");
  EXPECT_EQ(error_text(build(2, 2, 4, 3, 5, 4, correlation(2))),
            "Expected volatilities_.rows() == volatilities_dates_.size() to be true, but got false.  volatilities size 4 "
            "is differents from volatilities dates size 3");
  EXPECT_EQ(error_text(build(2, 2, 3, 3, 5, 4, matrix<double>(2, 3))),
            "Expected shifts_.rows() == shifts_dates_.size() to be true, but got false.  shifts size 5 is differents "
            "from shifts dates size 4");
  EXPECT_EQ(error_text(build(2, 2, 3, 3, 4, 4, matrix<double>(2, 3))),
            "Expected correlation_.rows() == correlation_.columns() to be true, but got false.  correlation number of "
            "rows 2 is differents from correlation number of columns 3");
  // Symmetry is strict below machine epsilon: 1e-10 is refused, 1e-17 is rounding.
  auto skew = correlation(2);
  skew(0, 1) += 1e-10;
  EXPECT_EQ(error_text(build(2, 2, 3, 3, 4, 4, skew)), "correlation matrix is not symetric");
  auto tiny = correlation(2);
  tiny(0, 1) += 1e-17;
  EXPECT_EQ(error_text(build(2, 2, 3, 3, 4, 4, tiny)), "no error");
  // The extension is checked last.
  EXPECT_EQ(error_text([] {
              cir(filled(2, 2, 0.3), filled(1, 2, 0.1), filled(1, 2, 0.0), correlation(2), dates_from(2), dates_from(1),
                  dates_from(1), nullptr, filled(1, 2, 0.02), {0.0, 0.0});
            }),
            "Expected long_term_levels_.rows() == mean_reversion_speeds_.rows() && long_term_levels_.columns() == "
            "mean_reversion_speeds_.columns() to be true, but got false.  long_term_levels 1 x 2 is differents from "
            "mean_reversion_speeds 2 x 2");
  EXPECT_EQ(error_text([] {
              cir(filled(1, 2, 0.3), filled(1, 2, 0.1), filled(1, 2, 0.0), correlation(2), dates_from(1), dates_from(1),
                  dates_from(1), nullptr, filled(1, 2, 0.02), {0.0});
            }),
            "Expected initial_values_.size() == number_of_factors() to be true, but got false.  initial_values size 1 "
            "is differents from number of factors 2");
  EXPECT_EQ(error_text([] {
              cir(filled(1, 2, 0.3), filled(1, 2, 0.1), filled(1, 2, 0.0), correlation(2), dates_from(1), dates_from(1),
                  dates_from(1), nullptr, filled(1, 2, 0.02), {0.0, -1e-3});
            }),
            "extended CIR long-term levels and initial values must be non-negative");
}

TEST(parameter_extended_cir, layout_adjoints_and_factor_count) {
  const std::size_t F = 3;
  const auto p = make(3, 2, 4, F, true);
  EXPECT_EQ(p->number_of_factors(), F);
  EXPECT_EQ(p->volatilities_offset(), 3 * F);
  EXPECT_EQ(p->shifts_offset(), 5 * F);
  EXPECT_EQ(p->long_term_levels_offset(), 9 * F);
  EXPECT_EQ(p->initial_values_offset(), 12 * F);
  EXPECT_EQ(p->state_parameters_size(), 13 * F);
  // kappa row 2 lands on 2F .. 3F-1 and nowhere else; sigma and phi rows on their blocks.
  const vector<double> g{1.0, 2.0, 3.0};
  std::vector<double> grad(p->state_parameters_size(), 0.0);
  p->mean_reversion_speed_aad(g, 2, grad.data());
  p->volatility_aad(g, 1, grad.data());
  p->shift_aad(g, 0, grad.data());
  for (std::size_t i = 0; i < grad.size(); ++i) {
    double expected = 0.0;
    if (i >= 2 * F && i < 3 * F) expected = g[i - 2 * F];
    if (i >= 4 * F && i < 5 * F) expected = g[i - 4 * F];
    if (i >= 5 * F && i < 6 * F) expected = g[i - 5 * F];
    EXPECT_EQ(grad[i], expected) << i;
  }
  // get then set is the identity, and set writes every block.
  auto q = std::const_pointer_cast<cir>(make(3, 2, 4, F, false));
  const auto s = state_of(*p);
  EXPECT_EQ(q->set_state_parameters(s.data()), s.size());
  EXPECT_EQ(state_of(*q), s);
  // Only kappa's columns count the factors: sigma and phi are not compared with them.
  EXPECT_EQ(error_text([] {
              cir(filled(1, 2, 0.3), filled(1, 3, 0.1), filled(1, 1, 0.0), correlation(2), dates_from(1),
                  dates_from(1), dates_from(1), nullptr);
            }),
            "no error");
}

TEST(parameter_extended_cir, round_trips_and_files_without_the_extension) {
  scratch_folder dir;
  for (bool extended : {false, true}) {
    const auto p = make(2, 3, 1, 2, extended);
    cir::write_to_json(dir.file("p.json"), p);
    cir::write_to_binary(dir.file("p.bin"), p);
    for (const auto& q : {cir::read_from_json(dir.file("p.json")), cir::read_from_binary(dir.file("p.bin"))}) {
      EXPECT_EQ(state_of(*q), state_of(*p));
      EXPECT_EQ(q->correlation(), p->correlation());
      EXPECT_EQ(q->mean_reversion_speed_dates(), p->mean_reversion_speed_dates());
      EXPECT_EQ(q->volatilities_dates(), p->volatilities_dates());
      EXPECT_EQ(q->shifts_dates(), p->shifts_dates());
      EXPECT_EQ(q->day_convention()->type(), day_count_convention_type::act_360);
      EXPECT_EQ(cir::json_to_string(q), cir::json_to_string(p));
    }
  }
  // The keys come in file order, the extension last; a file written before the
  // extension existed reads as theta = 0 and x(0) = 0.
  auto j = nlohmann::ordered_json::parse(cir::json_to_string(make(2, 3, 1, 2, true)));
  std::vector<std::string> keys;
  for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "mean_reversion_speeds", "volatilities", "shifts", "correlation",
                                            "mean_reversion_speed_dates", "volatilities_dates", "shifts_dates",
                                            "day_convention", "long_term_levels", "initial_values"}));
  j.erase("long_term_levels");
  j.erase("initial_values");
  nlohmann::ordered_json doc;
  doc["root"] = j;
  testing::write_raw(dir.file("old.json"), doc.dump(2));
  const auto old = cir::read_from_json(dir.file("old.json"));
  EXPECT_EQ(old->long_term_levels(), matrix<double>(2, 2, 0.0));
  EXPECT_EQ(old->initial_values(), std::vector<double>(2, 0.0));
  EXPECT_EQ(old->mean_reversion_speeds(), make(2, 3, 1, 2, true)->mean_reversion_speeds());
}

TEST(parameter_extended_cir, truncated_binary_is_refused_except_before_the_extension) {
  // Every cut fails with an error naming the file, except the two that end a record
  // before an optional field: those read as older files (the missing fields zero).
  scratch_folder dir;
  const auto p = make(2, 1, 1, 2, true);
  const auto payload = testing::binary_payload(dir, p);
  std::vector<std::shared_ptr<const cir>> read;
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    const std::vector<unsigned char> shorter(payload.begin(), payload.begin() + std::ptrdiff_t(cut));
    try {
      read.push_back(testing::read_payload<cir>(dir, shorter));
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(dir.file("payload.bin") + ": ", 0), 0u) << "cut at " << cut;
    }
  }
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0]->long_term_levels(), matrix<double>(2, 2, 0.0));
  EXPECT_EQ(read[0]->initial_values(), std::vector<double>(2, 0.0));
  EXPECT_EQ(read[1]->long_term_levels(), p->long_term_levels());
  EXPECT_EQ(read[1]->initial_values(), std::vector<double>(2, 0.0));
}

}  // namespace
}  // namespace tarvex
