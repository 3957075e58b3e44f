#include "credit_market_file.h"

#include <cmath>

#include "input_error.h"
#include "market_file.h"

namespace tarvex::app {

credit_market read_credit_market(const std::string& file) {
  const json_node root = json_node::load(file);
  credit_market m;
  m.valuation_date = root.at("valuation_date").date();
  const json_node credit = root.at("credit");
  m.name = credit.has("name") ? credit.at("name").text() : "credit";
  const auto day_count = credit.has("day_count") ? read_day_count(credit.at("day_count"))
                                                 : std::make_shared<const day_count_convention>();
  auto quote = survival_quote_type::survival_probability;
  if (credit.has("quote")) {
    const json_node q = credit.at("quote");
    const std::string text = q.text();
    if (text == "hazard_rate")
      quote = survival_quote_type::hazard_rate;
    else if (text != "survival_probability")
      q.fail("\"survival_probability\" or \"hazard_rate\"");
  }
  const json_node pillars = credit.at("pillars"), values = credit.at("values");
  m.pillars = pillars.ascending_dates();
  if (m.pillars.empty()) pillars.fail("at least one pillar date");
  if (!(m.valuation_date < m.pillars.front())) pillars.at(std::size_t{0}).fail("a date after the valuation date");
  const auto numbers = values.numbers();
  if (numbers.size() != m.pillars.size()) values.fail(std::to_string(m.pillars.size()) + " values, one per pillar");
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (quote == survival_quote_type::hazard_rate) {
      if (!(std::isfinite(numbers[i]) && numbers[i] >= 0.0)) values.at(i).fail("a non-negative hazard rate");
      continue;
    }
    if (!(numbers[i] > 0.0 && numbers[i] <= 1.0)) values.at(i).fail("a survival probability in (0, 1]");
    if (i > 0 && numbers[i] > numbers[i - 1])
      values.at(i).fail("a survival probability not above the previous pillar's " + std::to_string(numbers[i - 1]));
  }
  m.curve = std::make_shared<const interpolated_survival_curve>(m.valuation_date, m.pillars, numbers, quote, day_count);
  return m;
}

}  // namespace tarvex::app
