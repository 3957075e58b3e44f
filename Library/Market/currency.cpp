#include "Market/currency.h"

#include <utility>

#include "Core/check.h"
#include "Util/key.h"

namespace tarvex {

currency::currency(std::string code) : code_(std::move(code)) { initialize(); }

void currency::initialize() {
  bool letters = code_.size() == 3;
  for (char c : code_) letters = letters && c >= 'A' && c <= 'Z';
  TARVEX_CHECK(letters, "currency code '", code_, "' is not three upper-case letters");
}

std::uint64_t currency::hash() const { return key::hash(key(code_), 0x63637900ULL); }

}  // namespace tarvex
