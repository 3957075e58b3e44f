#include <gtest/gtest.h>

#include <cmath>

#include "Core/tests/testing.h"
#include "Market/ir_volatility_surface.h"

namespace tarvex {
namespace {

const datetime today = datetime::from_string("2026-01-05");

// vol(e, t) = 0.01 + 0.001 e + 0.0002 t + 0.00003 e t is bilinear, so bilinear
// interpolation must reproduce it exactly between nodes.
double bilinear(double e, double t) { return 0.01 + 0.001 * e + 0.0002 * t + 0.00003 * e * t; }

TEST(ir_volatility_surface, bilinear_inside_flat_outside) {
  const std::vector<double> expiries{0.5, 1.0, 5.0}, tenors{1.0, 2.0, 10.0};
  std::vector<double> vols;
  for (double e : expiries)
    for (double t : tenors) vols.push_back(bilinear(e, t));
  ir_volatility_surface s(today, expiries, tenors, vols);
  for (double e : {0.5, 0.7, 1.0, 3.3, 5.0})
    for (double t : {1.0, 1.5, 2.0, 7.25, 10.0}) EXPECT_NEAR(s.volatility(e, t), bilinear(e, t), 1e-17) << e << " " << t;
  // Nodes come back bit for bit.
  EXPECT_EQ(s.volatility(1.0, 2.0), vols[4]);
  EXPECT_EQ(s.volatility(5.0, 10.0), vols[8]);
  // Beyond an axis the edge value holds, in each direction and in the corners.
  EXPECT_EQ(s.volatility(0.1, 2.0), vols[1]);
  EXPECT_EQ(s.volatility(30.0, 2.0), vols[7]);
  EXPECT_EQ(s.volatility(0.0, 0.25), vols[0]);
  EXPECT_EQ(s.volatility(9.0, 40.0), vols[8]);
  EXPECT_NEAR(s.volatility(3.3, 40.0), bilinear(3.3, 10.0), 1e-17);
  // Without a smile the strike offset is ignored; a one-node surface is flat.
  EXPECT_EQ(s.volatility(1.0, 2.0, 0.02), vols[4]);
  ir_volatility_surface flat(today, {2.0}, {5.0}, {0.0085});
  EXPECT_EQ(flat.volatility(0.1, 30.0, -0.01), 0.0085);
}

TEST(ir_volatility_surface, smile_is_linear_in_offset_and_bilinear_across_the_grid) {
  const std::vector<double> expiries{1.0, 2.0}, tenors{5.0, 10.0}, offsets{-0.01, 0.0, 0.02};
  // Each node's smile: base(e, t) + slope * offset below zero, steeper above.
  auto smile = [&](double e, double t, double k) { return bilinear(e, t) + (k < 0 ? -0.1 * k : 0.25 * k); };
  std::vector<double> vols;
  for (double e : expiries)
    for (double t : tenors)
      for (double k : offsets) vols.push_back(smile(e, t, k));
  ir_volatility_surface s(today, expiries, tenors, vols, offsets);
  EXPECT_TRUE(s.has_smile());
  for (double e : {1.0, 1.4, 2.0})
    for (double t : {5.0, 8.0})
      for (double k : {-0.01, -0.004, 0.0, 0.013, 0.02}) EXPECT_NEAR(s.volatility(e, t, k), smile(e, t, k), 1e-17);
  // Flat beyond the strike range.
  EXPECT_NEAR(s.volatility(1.4, 8.0, 0.05), smile(1.4, 8.0, 0.02), 1e-17);
  EXPECT_NEAR(s.volatility(1.4, 8.0, -0.5), smile(1.4, 8.0, -0.01), 1e-17);
}

TEST(ir_volatility_surface, tenor_constructor_places_nodes_by_day_count_and_months) {
  auto act360 = std::make_shared<const day_count_convention>(day_count_convention_type::act_360);
  ir_volatility_surface s(today, {tenor("6M"), tenor("1Y")}, {tenor("18M"), tenor("2Y")}, {1, 2, 3, 4}, act360);
  EXPECT_NEAR(s.expiries()[0], 181.0 / 360, 1e-16);  // 2026-01-05 to 2026-07-05
  EXPECT_NEAR(s.expiries()[1], 365.0 / 360, 1e-16);
  EXPECT_EQ(s.tenors(), (std::vector<double>{1.5, 2.0}));
}

TEST(ir_volatility_surface, invalid_input_is_refused_with_its_numbers) {
  using testing::error_text;
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0, 1.0}, {1.0}, {0.01, 0.01}); }),
            "volatility surface expiries are not ascending: 1 then 1");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0}, {}, {}); }), "volatility surface has no tenors");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0}, {2.0, NAN}, {0.01, 0.01}); }),
            "volatility surface tenors 1 is nan");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0}, {2.0}, {0.01, 0.02}, {0.01, -0.01}); }),
            "volatility surface strike offsets are not ascending: 0.01 then -0.01");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0, 2.0}, {2.0}, {0.01, 0.02, 0.03}); }),
            "volatility surface has 3 volatilities for 2 expiries, 1 tenors and 0 strike offsets");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0, 2.0}, {2.0}, {0.01, -0.002}); }),
            "volatility 1 is -0.002, not finite and non-negative");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {1.0}, {2.0}, {INFINITY}); }),
            "volatility 0 is inf, not finite and non-negative");
  EXPECT_EQ(error_text([] { ir_volatility_surface(today, {tenor("1Y")}, {tenor("10D")}, {0.01}, nullptr); }),
            "swap tenor 10D is not in months or years");
}

}  // namespace
}  // namespace tarvex
