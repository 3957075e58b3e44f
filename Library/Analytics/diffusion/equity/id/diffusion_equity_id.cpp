#include "Analytics/diffusion/equity/id/diffusion_equity_id.h"

#include <utility>

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"

// The record nests the domestic interest-rate identifier as a full record of its
// own, then the equity's name as a string:
//
//   {
//     "Class": "tarvex::diffusion_equity_id",
//     "diffusion_domestic_ir_id": {
//       "Class": "tarvex::diffusion_ir_id",
//       "id": {
//         "Class": "tarvex::discount_id",
//         "id": "OIS",
//         "ccy": "USD"
//       }
//     },
//     "name": "SPX"
//   }
//
// The binary form carries the same values in the same order. A domestic record marked
// "empty" reads back as null and is refused by validate(); a nested record whose
// discount id is "empty" is refused earlier, by the interest-rate identifier's own
// check, while it is read.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(diffusion_equity_id)
TARVEX_REGISTER_SERIALIZER_AS(diffusion_equity_id, diffusion_id)

// Building the interest-rate identifier first runs its own check, so a null discount
// id fails with "invalide discount_id!" before this class's check is reached.
diffusion_equity_id::diffusion_equity_id(const std::shared_ptr<const discount_id>& domestic, key name)
    : diffusion_ir_id_domestic_(std::make_shared<const diffusion_ir_id>(domestic)), key_(std::move(name)) {
  initialize();
}

// Nothing is derived from the fields; the check runs last, so readers and the
// constructor hand out checked objects only.
void diffusion_equity_id::initialize() { validate(); }

// The name first, then the curve: "SPX_USD.OIS".
std::string diffusion_equity_id::to_string() const {
  return key_.to_string() + "_" + diffusion_ir_id_domestic_->to_string();
}

// The equity's own key is the seed's partner, not a class-name key: an equity's hash
// depends only on its name and its domestic curve.
std::uint64_t diffusion_equity_id::hash() const { return key::hash(key_, diffusion_ir_id_domestic_->hash()); }

// Called on equal dynamic types only. Two equities of one name on different curves
// are different factors (a dual listing quoted in two currencies).
bool diffusion_equity_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const diffusion_equity_id&>(other);
  return key_ == o.key_ &&
         static_cast<const data_id&>(*diffusion_ir_id_domestic_) == *o.diffusion_ir_id_domestic_;
}

// An equity is simulated against its domestic curve, whatever the measure; that
// curve's own discovery then brings in the numeraire and the exchange rate when the
// equity is quoted in another currency.
void diffusion_equity_id::discovery(const std::shared_ptr<const diffusion_id>&,
                                    const std::shared_ptr<const any_container>&,
                                    std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const {
  out.insert(diffusion_ir_id_domestic_);
}

// The name may be empty (the key's own default); only the curve is required, since
// the equity's forward and drift are read from it.
void diffusion_equity_id::validate() const {
  TARVEX_CHECK_TEXT(diffusion_ir_id_domestic_ != nullptr, "invalide domestic id!");
}

}  // namespace tarvex
