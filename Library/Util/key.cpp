#include "Util/key.h"

#include "Core/check.h"
#include "Util/hash.h"

namespace tarvex {

key::key(const char* text) {
  TARVEX_CHECK(text != nullptr, "key text is null");
  text_ = text;
}

key& key::operator=(std::string text) {
  text_ = std::move(text);
  return *this;
}

std::uint64_t key::hash(const key& k, std::uint64_t seed) { return hash_combine(seed, fnv1a_64(k.text_)); }

}  // namespace tarvex
