#include "Market/any_id.h"

#include <utility>

#include "Core/check.h"

namespace tarvex {
namespace {
template <class P>
any_id::variant_type checked(P id) {
  TARVEX_CHECK(id != nullptr, "any_id built from a null identifier");
  return any_id::variant_type(std::move(id));
}
}  // namespace

any_id::any_id(std::shared_ptr<const market_data_id> id) : value_(checked(std::move(id))) {}
any_id::any_id(std::shared_ptr<const life_cycle_id> id) : value_(checked(std::move(id))) {}
any_id::any_id(std::shared_ptr<const config_data_id> id) : value_(checked(std::move(id))) {}

const data_id& any_id::id() const {
  return std::visit([](const auto& p) -> const data_id& { return *p; }, value_);
}

bool any_id::operator==(const any_id& other) const {
  return value_.index() == other.value_.index() && id() == other.id();
}

}  // namespace tarvex
