#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Analytics/calibration/ir/cheyette/calibration_ir_cheyette_swaption.h"
#include "Analytics/calibration/ir/hjm/calibration_ir_hjm_swaption.h"
#include "Analytics/models/tests/hjm_test_models.h"
#include "Market/interpolated_discount_curve.h"
#include "Util/datetime_helper.h"

namespace tarvex {
namespace {

using namespace hjm_testing;

const auto act365 = std::make_shared<const day_count_convention>();

std::shared_ptr<const discount_curve> curve() {
  return std::make_shared<const interpolated_discount_curve>(
      valuation, std::vector<datetime>{datetime(2027, 1, 5), datetime(2031, 1, 5), datetime(2046, 1, 5)},
      std::vector<double>{0.021, 0.028, 0.033});
}

datetime add(const datetime& d, const char* t) { return datetime_helper::add_tenor(d, tenor(t), 1); }

// A one-factor Cheyette set with constant decay, volatility and skew, its model on a
// monthly grid of ten years (every target expiry is a grid date).
struct setup {
  std::shared_ptr<const parameter_markovian_hjm> hjm;
  std::shared_ptr<const parameter_cheyette> parameters;
  std::vector<datetime> dates = monthly_dates(121, 1);
  std::shared_ptr<const model_cheyette> model;
  setup(double kappa, double sigma, double skew)
      : hjm(constant_parameters({kappa}, {sigma}, uniform_correlation(1, 0.0))),
        parameters(std::make_shared<const parameter_cheyette>(hjm, matrix<double>(1, 1, skew),
                                                              std::vector<datetime>{valuation}, 0.0)),
        model(std::make_shared<const model_cheyette>(*parameters, valuation, dates, false, false)) {}
};

const std::vector<double> offsets{-0.02, -0.01, -0.005, 0.0, 0.005, 0.01, 0.02};

std::vector<double> smile(const calibration_ir_cheyette_swaption& s, const setup& m) {
  std::vector<double> out;
  s.values(out, m.model, m.model->variance(s.expiry()));
  return out;
}

// No skew is the HJM model: the HJM instrument's price, payer and receiver (by parity);
// a skew of 1e-5 (B ~ 1e-13) runs the mixture and must land on the same numbers, which
// checks the frozen-skew limit, the node rule and the conditional laws together.
TEST(calibration_ir_cheyette_swaption, zero_and_vanishing_skew_give_the_hjm_price) {
  for (const char* expiry : {"1Y", "5Y"})
    for (const char* length : {"1Y", "10Y"})
      for (bool payer : {true, false}) {
        const datetime s = add(valuation, expiry), e = add(s, length);
        const calibration_ir_cheyette_swaption target(payer, curve(), s, e, tenor("1Y"), act365, offsets, true);
        const auto& swap = *target.swaptions()->swap();
        const setup flat(0.02, 0.01, 0.0), tiny(0.02, 0.01, 1e-5);
        const model_markovian_hjm hjm(*flat.hjm, valuation, {}, true, {});
        const calibration_ir_hjm_swaption reference(target.swaptions()->swap());
        const auto zero = smile(target, flat), small = smile(target, tiny);
        std::vector<double> more{0.5};
        target.values(more, flat.model, 0.0);
        ASSERT_EQ(more.size(), offsets.size() + 1);  // appends
        EXPECT_EQ(more[0], 0.5);
        for (std::size_t k = 0; k < offsets.size(); ++k) {
          const double K = target.swaptions()->strikes()[k];
          vector<double> root;
          reference.initial_root(root, K, hjm);
          vector<double> g;
          double p = reference.value(K, hjm, root, g, 30, 1e-10);
          if (!payer) p -= swap.value(K, swap.dfs());
          const double expected = swap.implied_volatility(p, K, payer ? 1.0 : -1.0);
          const std::string where = std::string(expiry) + " x " + length + (payer ? " payer " : " receiver ") +
                                    std::to_string(offsets[k]);
          EXPECT_NEAR(zero[k], expected, 1e-10) << where;
          EXPECT_NEAR(more[k + 1], expected, 1e-10) << where;
          EXPECT_NEAR(small[k], expected, 2e-9) << where;
        }
      }
}

}  // namespace
}  // namespace tarvex
