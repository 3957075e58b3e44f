#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "Market/data_id.h"

namespace tarvex {

// Any identifier a data container is keyed by: exactly one non-null market-data,
// life-cycle or configuration identifier. Compares and hashes by the identifier it
// holds, so two equal identifiers held by different objects are one key.
class any_id {
 public:
  using variant_type = std::variant<std::shared_ptr<const market_data_id>, std::shared_ptr<const life_cycle_id>,
                                    std::shared_ptr<const config_data_id>>;

  any_id(std::shared_ptr<const market_data_id> id);
  any_id(std::shared_ptr<const life_cycle_id> id);
  any_id(std::shared_ptr<const config_data_id> id);

  const variant_type& value() const { return value_; }
  // The held identifier as its root type.
  const data_id& id() const;
  std::uint64_t hash() const { return id().hash(); }
  std::string to_string() const { return id().to_string(); }

  bool operator==(const any_id& other) const;

 private:
  variant_type value_;
};

}  // namespace tarvex

template <>
struct std::hash<tarvex::any_id> {
  std::size_t operator()(const tarvex::any_id& id) const { return static_cast<std::size_t>(id.hash()); }
};
