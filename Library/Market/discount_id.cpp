#include "Market/discount_id.h"

#include <utility>

#include "Util/key.h"

namespace tarvex {

discount_id::discount_id(discount_definition definition, currency ccy)
    : definition_(std::move(definition)), ccy_(std::move(ccy)) {
  initialize();
}

// Members validate themselves; nothing more to check once both are read back.
void discount_id::initialize() {}

std::string discount_id::to_string() const { return ccy_.code() + "." + definition_.name(); }

std::uint64_t discount_id::hash() const { return key::hash(key(definition_.name()), ccy_.hash()); }

bool discount_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const discount_id&>(other);
  return definition_ == o.definition_ && ccy_ == o.ccy_;
}

}  // namespace tarvex
