#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"

#include <memory>

#include "Analytics/diffusion/fx/id/diffusion_fx_id.h"
#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"
#include "Util/key.h"

// The record of an interest-rate identifier nests the discount id as an object of
// its own, so the curve's currency and definition stay readable in the file:
//
//   {
//     "Class": "tarvex::diffusion_ir_id",
//     "id": {
//       "Class": "tarvex::discount_id",
//       "id": "OIS",
//       "ccy": "USD"
//     }
//   }
//
// The binary form carries the same values in the same order: the class name, then
// the discount id's class name, definition and currency code. A record whose "id" is
// the "empty" marker reads back as a null discount id and is refused by validate(),
// with the constructor's message.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(diffusion_ir_id)
TARVEX_REGISTER_SERIALIZER_AS(diffusion_ir_id, diffusion_id)

namespace {

// Every interest-rate identifier folds its curve's hash into this class key, so an
// interest-rate factor and the curve it is named after never share a hash.
const key& class_key() {
  static const key k("diffusion_ir_id");
  return k;
}

}  // namespace

diffusion_ir_id::diffusion_ir_id(const std::shared_ptr<const discount_id>& id) : id_(id) { initialize(); }

// Nothing is derived from the discount id: the readers and the constructor only
// need the check, which runs last in both so that no unchecked object escapes.
void diffusion_ir_id::initialize() { validate(); }

// The curve's own text, so reports show "USD.OIS" for the factor.
std::string diffusion_ir_id::to_string() const { return id_->to_string(); }

// Folding the curve's hash into the class key keeps an interest-rate factor apart
// from a credit factor whose default id happens to hash like the discount id.
std::uint64_t diffusion_ir_id::hash() const { return key::hash(class_key(), id_->hash()); }

// Called on equal dynamic types only (data_id::operator==). The discount ids are
// compared by content, so two separately built ids of one curve name one factor.
bool diffusion_ir_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const diffusion_ir_id&>(other);
  return static_cast<const data_id&>(*id_) == *o.id_;
}

// The container is not read: an interest-rate factor needs nothing beyond the
// numeraire's currency to know what else it drags into the simulation. The numeraire
// of a discovery is always an interest-rate identifier (the measure's curve).
void diffusion_ir_id::discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                                const std::shared_ptr<const any_container>&,
                                std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const {
  const auto* measure_curve = dynamic_cast<const diffusion_ir_id*>(numeraire.get());
  TARVEX_CHECK(measure_curve != nullptr, "the numeraire of a discovery is not an interest-rate identifier");
  // Currencies are the same currency when their codes agree: two curves of one
  // currency (OIS and a tenor curve, say) are simulated under the same measure
  // without any exchange rate.
  if (measure_curve->id()->ccy() == id_->ccy()) return;
  // A curve in another currency is simulated under the measure through the exchange
  // rate, quoted as units of the numeraire's currency per unit of this one: the
  // numeraire's curve is the domestic leg and this curve the foreign one. The
  // numeraire itself is added too, so that a list of foreign curves alone still
  // yields the domestic factor the FX diffusion is built on. The set drops either
  // when an equal identifier is already present.
  out.insert(numeraire);
  out.insert(std::make_shared<const diffusion_fx_id>(measure_curve->id(), id_));
}

// The only invariant: a curve to name. The discount id validates its own currency
// and definition when it is built or read, so nothing else is checked here; a null
// member can only come from a record marked "empty".
void diffusion_ir_id::validate() const {
  TARVEX_CHECK_TEXT(id_ != nullptr, "invalide discount_id!");
}

}  // namespace tarvex
