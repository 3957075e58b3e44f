#include "Market/any_container.h"

#include <utility>

#include "Core/check.h"

namespace tarvex {

void any_container::add(const any_id& id, data_type data) {
  const bool present = std::visit([](const auto& p) { return p != nullptr; }, data);
  TARVEX_CHECK(present, "null object stored under '", id.to_string(), "'");
  data_.insert_or_assign(id, std::move(data));
}

const any_container::data_type& any_container::get(const any_id& id) const {
  auto it = data_.find(id);
  if (it == data_.end()) TARVEX_FAIL("'", id.to_string(), "' is not in the container");
  return it->second;
}

}  // namespace tarvex
