#pragma once
#include <cstdint>

namespace tarvex {

// Where draws are generated. The codes are part of the serialized random settings.
enum class device_type : std::int16_t {
  // The host: the only device this build can generate on.
  cpu = 0,
  // A GPU: refused by random_settings, since this build has no device generators.
  gpu = 1,
};

}  // namespace tarvex
