#include "Analytics/change_of_measure/measure_id.h"

#include "Analytics/foundations/serialization_io.h"
#include "Util/key.h"

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(measure_id)
TARVEX_REGISTER_SERIALIZER(measure_id)

// Any state is valid: it is carried, never interpreted.
void measure_id::initialize() {}

std::string measure_id::to_string() const { return {}; }

std::uint64_t measure_id::hash() const { return key("measure_id").hash(); }

// A container holds one measure, so the key names it whatever its state; equality
// must agree with the constant hash.
bool measure_id::same_as(const data_id&) const { return true; }

}  // namespace tarvex
