#include "Analytics/diffusion/credit/id/diffusion_credit_id.h"

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"
#include "Util/key.h"

// The record nests the default id with its five fields after its own "Class"
// marker, so the reference entity and the contract terms stay readable in the file:
//
//   {
//     "Class": "tarvex::diffusion_credit_id",
//     "id": {
//       "Class": "tarvex::default_id",
//       "name": "ACME",
//       "ccy": "USD",
//       "seniority": "SNRFOR",
//       "restructuring": "XR14",
//       "isda": 2014
//     }
//   }
//
// The binary form carries the same values in the same order (the ISDA year as a
// signed 32-bit integer). An "empty" default id reads back as null and is refused by
// validate() with the constructor's message.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(diffusion_credit_id)
TARVEX_REGISTER_SERIALIZER_AS(diffusion_credit_id, diffusion_id)

diffusion_credit_id::diffusion_credit_id(const std::shared_ptr<const default_id>& id) : id_(id) { initialize(); }

// Nothing is derived from the default id; the check runs last, so readers and the
// constructor hand out checked objects only.
void diffusion_credit_id::initialize() { validate(); }

// The curve's own text: "<name>.<ccy>.<seniority>.<restructuring>.<isda>".
std::string diffusion_credit_id::to_string() const { return id_->to_string(); }

// The class key keeps a credit factor apart from an interest-rate factor whose
// discount id happens to hash like this default id.
std::uint64_t diffusion_credit_id::hash() const { return key::hash(key("diffusion_credit_id"), id_->hash()); }

// Called on equal dynamic types only; two separately built default ids of one
// entity and contract name one factor.
bool diffusion_credit_id::same_as(const data_id& other) const {
  const auto& o = static_cast<const diffusion_credit_id&>(other);
  return static_cast<const data_id&>(*id_) == *o.id_;
}

// A credit factor is simulated in its own currency's measure by the credit
// diffusion itself, so it drags nothing else into the simulation.
void diffusion_credit_id::discovery(const std::shared_ptr<const diffusion_id>&,
                                    const std::shared_ptr<const any_container>&,
                                    std::unordered_set<std::shared_ptr<const diffusion_id>>&) const {}

// The default id checks its own name and ISDA year; only its presence is ours.
void diffusion_credit_id::validate() const {
  TARVEX_CHECK_TEXT(id_ != nullptr, "invalide default id!");
}

}  // namespace tarvex
