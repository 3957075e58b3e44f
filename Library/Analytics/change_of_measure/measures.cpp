#include "Analytics/change_of_measure/measures.h"

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"

// The record nests the discount id as an object of its own:
//
//   {
//     "Class": "tarvex::measure",
//     "id": {
//       "Class": "tarvex::discount_id",
//       "id": "OIS",
//       "ccy": "USD"
//     }
//   }
//
// An "id" marked "empty" reads back as null and is refused by validate(), with the
// constructor's message.
//
// The measure names a curve, not a diffusion: discovery turns it into the
// interest-rate identifier of that curve, the numeraire against which every other
// currency's curve brings in its exchange rate.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(measure)
TARVEX_REGISTER_SERIALIZER(measure)

// Copies the pointer: identifiers are immutable and shared, so the measure and the
// client's own copy may point at the same object.
measure::measure(const std::shared_ptr<const discount_id>& id) : id_(id) { initialize(); }

// Nothing is derived from the curve's identifier; the check runs last, so readers and
// the constructor hand out checked objects only.
void measure::initialize() { validate(); }

// The discount id validates its own currency and definition; the measure only
// needs one to be there, since without a curve there is no numeraire.
void measure::validate() const {
  TARVEX_CHECK_TEXT(id_ != nullptr, "invalide discount_id!");
}

}  // namespace tarvex
