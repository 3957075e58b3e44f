#include <gtest/gtest.h>

#include "Analytics/parameters/parameter_lognormal.h"
#include "Analytics/calibration/tests/serialization_checks.h"
#include "Core/tests/testing.h"

namespace tarvex {
namespace {

using testing::error_text;
using testing::scratch_folder;
using lognormal = parameter_lognormal;

std::vector<datetime> dates_from(std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i) d.emplace_back(46027.0 + 182.0 * double(i));
  return d;
}

matrix<double> vols(std::size_t rows, std::size_t n) {
  matrix<double> m(rows, n);
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < n; ++c) m(r, c) = 0.1 + 0.01 * double(r) + 0.002 * double(c);
  return m;
}

matrix<double> three_factor_correlation() {
  matrix<double> c(3, 3, 0.0);
  const double lower[3] = {0.1, 0.2, 0.3};  // (1,0), (2,0), (2,1)
  c(1, 0) = c(0, 1) = lower[0];
  c(2, 0) = c(0, 2) = lower[1];
  c(2, 1) = c(1, 2) = lower[2];
  for (std::size_t i = 0; i < 3; ++i) c(i, i) = 1.0;
  return c;
}

std::vector<double> state_of(const lognormal& p) {
  std::vector<double> s(p.state_parameters_size());
  EXPECT_EQ(p.get_state_parameters(s.data()), s.size());
  return s;
}

TEST(parameter_lognormal, validation_messages_in_order) {
  EXPECT_EQ(error_text([] { lognormal(vols(2, 2), matrix<double>(2, 3), dates_from(3), nullptr); }),
            "Expected volatilities_.rows() == volatilities_dates_.size() to be true, but got false.  volatilities size 2 "
            "is differents from volatilities dates size 3");
  EXPECT_EQ(error_text([] { lognormal(vols(2, 2), matrix<double>(2, 3), dates_from(2), nullptr); }),
            "Expected correlation_.rows() == correlation_.columns() to be true, but got false.  correlation number of "
            "rows 2 is differents from correlation number of columns 3");
  auto skew = three_factor_correlation();
  skew(2, 1) += 1e-12;
  EXPECT_EQ(error_text([&] { lognormal(vols(2, 3), skew, dates_from(2), nullptr); }),
            "correlation matrix is not symetric");
}

TEST(parameter_lognormal, state_layout_and_correlation_adjoint) {
  // One factor: no correlation block.
  const lognormal one(vols(4, 1), matrix<double>(1, 1, 1.0), dates_from(4), nullptr);
  EXPECT_EQ(one.state_parameters_size(), 4u);
  EXPECT_EQ(one.correlation_offset(), 4u);

  // Three factors: C(1,0), C(2,0), C(2,1) after the volatilities; set writes both triangles.
  const lognormal p(vols(2, 3), three_factor_correlation(), dates_from(2), nullptr);
  auto s = state_of(p);
  ASSERT_EQ(s.size(), 9u);
  EXPECT_EQ(std::vector<double>(s.begin() + 6, s.end()), (std::vector<double>{0.1, 0.2, 0.3}));
  lognormal q(vols(2, 3), matrix<double>(3, 3, 0.0), dates_from(2), nullptr);
  s[6] = 0.4, s[7] = 0.5, s[8] = 0.6;
  EXPECT_EQ(q.set_state_parameters(s.data()), 9u);
  EXPECT_EQ(q.correlation()(1, 0), 0.4);
  EXPECT_EQ(q.correlation()(0, 1), 0.4);
  EXPECT_EQ(q.correlation()(2, 1), 0.6);
  EXPECT_EQ(q.correlation()(1, 2), 0.6);

  // Both triangles of the adjoint land on the stored entry: 1 + 2 at offset + 2.
  matrix<double> G(3, 3, 0.0);
  G(2, 1) = 1.0;
  G(1, 2) = 2.0;
  std::vector<double> grad(p.state_parameters_size(), 0.0);
  p.correlation_aad(G, grad.data());
  p.volatility_aad(vector<double>{1.0, 2.0, 3.0}, 1, grad.data());
  EXPECT_EQ(grad, (std::vector<double>{0, 0, 0, 1, 2, 3, 0, 0, 3}));
}

TEST(parameter_lognormal, round_trips_are_exact) {
  scratch_folder dir;
  const auto conv = std::make_shared<const day_count_convention>(
      day_count_convention_type::act_360, std::make_shared<const calendar>(true, std::vector<datetime>{}));
  const auto p = std::make_shared<const lognormal>(vols(3, 3), three_factor_correlation(), dates_from(3), conv);
  lognormal::write_to_json(dir.file("p.json"), p);
  lognormal::write_to_binary(dir.file("p.bin"), p);
  for (const auto& q : {lognormal::read_from_json(dir.file("p.json")), lognormal::read_from_binary(dir.file("p.bin"))}) {
    EXPECT_EQ(state_of(*q), state_of(*p));
    EXPECT_EQ(q->correlation(), p->correlation());
    EXPECT_EQ(q->volatilities_dates(), p->volatilities_dates());
    EXPECT_EQ(q->day_convention()->type(), day_count_convention_type::act_360);
    EXPECT_EQ(lognormal::json_to_string(q), lognormal::json_to_string(p));
  }
  testing::expect_corrupt_binary_refused(dir, p);
}

}  // namespace
}  // namespace tarvex
