#include "Market/default_id.h"

#include <utility>

#include "Core/check.h"
#include "Util/key.h"

namespace tarvex {

default_id::default_id(std::string name, currency ccy, std::string seniority, std::string restructuring,
                       std::int32_t isda)
    : name_(std::move(name)), ccy_(std::move(ccy)), seniority_(std::move(seniority)),
      restructuring_(std::move(restructuring)), isda_(isda) {
  initialize();
}

void default_id::initialize() {
  TARVEX_CHECK(!name_.empty(), "default id name is empty");
  TARVEX_CHECK(isda_ == 2003 || isda_ == 2014, "isda definitions year ", isda_, " is neither 2003 nor 2014");
}

std::string default_id::to_string() const {
  return name_ + "." + ccy_.code() + "." + seniority_ + "." + restructuring_ + "." + std::to_string(isda_);
}

std::uint64_t default_id::hash() const {
  std::uint64_t h = key::hash(key(name_), ccy_.hash());
  h = key::hash(key(seniority_), h);
  h = key::hash(key(restructuring_), h);
  return key::hash(key(std::to_string(isda_)), h);
}

bool default_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const default_id&>(other);
  return name_ == o.name_ && ccy_ == o.ccy_ && seniority_ == o.seniority_ && restructuring_ == o.restructuring_ &&
         isda_ == o.isda_;
}

}  // namespace tarvex
