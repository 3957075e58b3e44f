#include "Analytics/common/random_config.h"

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"

// The record nests the settings with their ten keys, in the settings' own order:
//
//   {
//     "Class": "tarvex::random_config",
//     "main_generator_type": 2,
//     "settings": {
//       "Class": "tarvex::random_settings",
//       "seed": 42,
//       "number_of_paths_per_batch": 4096,
//       "number_of_simulation_dates": 13,
//       "number_of_brownians": 3,
//       "batch_index": 0,
//       "full_skip": false,
//       "generator_type": 2,
//       "use_shift": false,
//       "type": 0,
//       "orthogonalization": false
//     }
//   }
//
// Enumerations are numbers: the generator types signed 32-bit, the device ("type")
// signed 16-bit in the binary form. Settings marked "empty" read back as null and
// are refused by validate(); settings that are present validate themselves while
// they are read.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(random_config)
TARVEX_REGISTER_SERIALIZER(random_config)

// full_skip is always false here: batches of one configuration are consecutive
// slices of the generator's sequence, positioned by batch_index alone. The settings
// are shared, not copied, by the random manager and the generator it builds, so a
// configuration and every manager made from it agree on the batch by construction.
//
// The caller's order (use_shift, orthogonalization, generator_type, type) puts the
// switches before the codes; the settings keep their own order, which is also their
// file order, so the two are mapped here and nowhere else.
random_config::random_config(random_type main_generator_type, std::size_t seed,
                             std::size_t number_of_paths_per_batch, std::size_t number_of_simulation_dates,
                             std::size_t number_of_brownians, std::size_t batch_index, bool use_shift,
                             bool orthogonalization, random_type generator_type, device_type type)
    : main_generator_type_(main_generator_type),
      settings_(std::make_shared<const random_settings>(seed, number_of_paths_per_batch, number_of_simulation_dates,
                                                        number_of_brownians, batch_index, false, generator_type,
                                                        use_shift, type, orthogonalization)) {
  initialize();
}

// Nothing is derived from the settings; the check runs last, so readers and the
// constructor hand out checked objects only. The settings' own checks (counts,
// codes, device) have run by then: in their constructor or in their reader.
void random_config::initialize() { validate(); }

// The main type is not checked here: the Random library's factory refuses an unknown
// code when the random manager builds its generator, and a configuration may be
// stored and read by a build that knows more generator types than this one. The
// settings can be missing only in a record whose "settings" is marked "empty", which
// is refused here with the message clients match on.
void random_config::validate() const {
  TARVEX_CHECK_TEXT(settings_ != nullptr, "invalide random settings!");
}

}  // namespace tarvex
