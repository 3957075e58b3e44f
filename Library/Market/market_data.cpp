#include "Market/market_data.h"

#include "Core/check.h"

namespace tarvex {

const datetime& market_data::valuation_date() const {
  TARVEX_CHECK_TEXT(date_.has_value(), "market data has no valuation date");
  return *date_;
}

}  // namespace tarvex
