#include "Market/discount_definition.h"

#include <utility>

#include "Core/check.h"

namespace tarvex {

discount_definition::discount_definition(std::string name) : name_(std::move(name)) { initialize(); }

void discount_definition::initialize() { TARVEX_CHECK(!name_.empty(), "discount definition name is empty"); }

}  // namespace tarvex
