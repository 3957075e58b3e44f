#pragma once
#include <cstdint>
#include <string>
#include <typeinfo>

namespace tarvex {

// Root of every identifier. Two identifiers are equal when they are of the same
// dynamic type and describe the same thing (same_as, called only on equal types).
class data_id {
 public:
  virtual ~data_id() = default;
  virtual std::string to_string() const = 0;
  virtual std::uint64_t hash() const = 0;

  bool operator==(const data_id& other) const {
    return typeid(*this) == typeid(other) && same_as(other);
  }

 protected:
  // `other` has this object's dynamic type.
  virtual bool same_as(const data_id& other) const = 0;
};

// Identifiers of market objects (curves, spots, simulated factors).
class market_data_id : public data_id {};

// Identifiers of configuration objects (measures, settings).
class config_data_id : public data_id {};

// Identifiers of life-cycle records; carried, never interpreted, by this library.
class life_cycle_id : public data_id {};

}  // namespace tarvex
