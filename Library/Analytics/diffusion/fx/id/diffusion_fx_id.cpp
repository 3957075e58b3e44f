#include "Analytics/diffusion/fx/id/diffusion_fx_id.h"

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"

// The record nests both interest-rate identifiers as full records, domestic first:
//
//   {
//     "Class": "tarvex::diffusion_fx_id",
//     "diffusion_ir_id_domestic": {
//       "Class": "tarvex::diffusion_ir_id",
//       "id": {
//         "Class": "tarvex::discount_id",
//         "id": "OIS",
//         "ccy": "USD"
//       }
//     },
//     "diffusion_ir_id_foreign": {
//       "Class": "tarvex::diffusion_ir_id",
//       "id": {
//         "Class": "tarvex::discount_id",
//         "id": "ESTR",
//         "ccy": "EUR"
//       }
//     }
//   }
//
// The binary form carries the same values in the same order. A leg marked "empty"
// reads back as null and is refused by validate(), the domestic leg first; a leg
// whose discount id is "empty" is refused earlier, by the interest-rate identifier's
// own check, while it is read.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(diffusion_fx_id)
TARVEX_REGISTER_SERIALIZER_AS(diffusion_fx_id, diffusion_id)

// Each interest-rate identifier runs its own check while it is built, the domestic one
// first, so a null discount id fails with "invalide discount_id!".
diffusion_fx_id::diffusion_fx_id(const std::shared_ptr<const discount_id>& domestic,
                                 const std::shared_ptr<const discount_id>& foreign)
    : diffusion_ir_id_domestic_(std::make_shared<const diffusion_ir_id>(domestic)),
      diffusion_ir_id_foreign_(std::make_shared<const diffusion_ir_id>(foreign)) {
  initialize();
}

// Nothing is derived from the legs; the check runs last, so readers and the
// constructor hand out checked objects only.
void diffusion_fx_id::initialize() { validate(); }

// Domestic first: "USD.OIS_EUR.ESTR" is dollars per euro. The texts of the legs are
// the curves' own, so an exchange rate between two curves of the same pair of
// currencies but other definitions prints differently too.
std::string diffusion_fx_id::to_string() const {
  return diffusion_ir_id_domestic_->to_string() + "_" + diffusion_ir_id_foreign_->to_string();
}

// The doubled foreign hash makes the pair ordered, where a plain XOR would give (a, b)
// and (b, a) the same value. Doubling is a shift by one bit (wrapping at 64 bits) and
// distributes over XOR, so h_d ^ 2 h_f == h_f ^ 2 h_d means x == 2 x for
// x = h_d ^ h_f, which holds only for x == 0: swapped legs collide only when the two
// legs hash alike.
std::uint64_t diffusion_fx_id::hash() const {
  return diffusion_ir_id_domestic_->hash() ^ (2 * diffusion_ir_id_foreign_->hash());
}

// Called on equal dynamic types only; the legs are compared in order, so an exchange
// rate never equals its inverse (dollars per euro and euros per dollar are two
// factors, each with its own diffusion).
bool diffusion_fx_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const diffusion_fx_id&>(other);
  return static_cast<const data_id&>(*diffusion_ir_id_domestic_) == *o.diffusion_ir_id_domestic_ &&
         static_cast<const data_id&>(*diffusion_ir_id_foreign_) == *o.diffusion_ir_id_foreign_;
}

// An exchange rate is simulated from the two short-rate factors of its currencies:
// both curves join the simulation, whatever the measure. The foreign curve's own
// discovery then adds nothing new when the domestic curve is the numeraire, and the
// numeraire and its exchange rate otherwise.
void diffusion_fx_id::discovery(const std::shared_ptr<const diffusion_id>&,
                                const std::shared_ptr<const any_container>&,
                                std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const {
  out.insert(diffusion_ir_id_domestic_);
  out.insert(diffusion_ir_id_foreign_);
}

// Both legs are required: the exchange rate's drift is the difference of the two
// short rates. The domestic leg is checked first, so a record with both legs missing
// reports the domestic one.
void diffusion_fx_id::validate() const {
  TARVEX_CHECK_TEXT(diffusion_ir_id_domestic_ != nullptr, "invalide domestic id!");
  TARVEX_CHECK_TEXT(diffusion_ir_id_foreign_ != nullptr, "invalide foreign id!");
}

}  // namespace tarvex
