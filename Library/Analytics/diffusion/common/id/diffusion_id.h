#pragma once
#include <cstddef>
#include <memory>
#include <unordered_set>

#include "Market/any_container.h"
#include "Market/data_id.h"

namespace tarvex {
class diffusion_id;
}  // namespace tarvex

// Identifier sets hold shared pointers but compare what they point at, so two objects
// naming the same risk factor are one element.
template <>
struct std::hash<std::shared_ptr<const tarvex::diffusion_id>> {
  std::size_t operator()(const std::shared_ptr<const tarvex::diffusion_id>& id) const;
};
template <>
struct std::equal_to<std::shared_ptr<const tarvex::diffusion_id>> {
  bool operator()(const std::shared_ptr<const tarvex::diffusion_id>& a,
                  const std::shared_ptr<const tarvex::diffusion_id>& b) const;
};

namespace tarvex {

// The set of risk factors a simulation evolves.
using diffusion_id_set = std::unordered_set<std::shared_ptr<const diffusion_id>>;

// Names one risk factor evolved by the Monte Carlo simulation: an interest-rate curve,
// a credit curve, an equity or an exchange rate. Immutable; shared as pointers to const.
class diffusion_id : public market_data_id {
 public:
  // Adds to `out` the identifiers this factor's simulation needs besides itself, unless
  // an equal one is present. `numeraire` names the interest-rate factor of the
  // measure's currency (a diffusion_ir_id); the container is not read by the
  // identifiers of this library.
  virtual void discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                         const std::shared_ptr<const any_container>& container,
                         std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const = 0;
};

}  // namespace tarvex

// A null pointer hashes to 0 and equals only another null pointer.
inline std::size_t std::hash<std::shared_ptr<const tarvex::diffusion_id>>::operator()(
    const std::shared_ptr<const tarvex::diffusion_id>& id) const {
  return id ? static_cast<std::size_t>(id->hash()) : 0;
}

inline bool std::equal_to<std::shared_ptr<const tarvex::diffusion_id>>::operator()(
    const std::shared_ptr<const tarvex::diffusion_id>& a, const std::shared_ptr<const tarvex::diffusion_id>& b) const {
  if (!a || !b) return a == b;
  return static_cast<const tarvex::data_id&>(*a) == static_cast<const tarvex::data_id&>(*b);
}
