#pragma once
#include <cstddef>
#include <memory>
#include <unordered_map>
#include <variant>

#include "Market/any_id.h"
#include "Market/market_data.h"

namespace tarvex {

// The client's store of market, life-cycle and configuration data, keyed by any_id.
// Filled with add() and then shared as a pointer to const.
class any_container {
 public:
  using data_type = std::variant<std::shared_ptr<const market_data>, std::shared_ptr<const life_cycle_data>,
                                 std::shared_ptr<const config_data>>;

  // Stores (or replaces) the object under the identifier; the object must not be null.
  void add(const any_id& id, data_type data);

  bool contains(const any_id& id) const { return data_.find(id) != data_.end(); }
  // The object stored under the identifier; "<id> is not in the container" otherwise.
  const data_type& get(const any_id& id) const;
  std::size_t size() const { return data_.size(); }

 private:
  std::unordered_map<any_id, data_type> data_;
};

}  // namespace tarvex
