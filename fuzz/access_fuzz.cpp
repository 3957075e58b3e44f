// serialization::access: the file envelopes (JSON text, binary header and checksum).
#include <cstdint>
#include <exception>
#include <vector>

#include "Serialization/access.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = tarvex::fuzz::as_file(data, size);
  try {
    nlohmann::ordered_json document;
    tarvex::serialization::access::read_json(file, document);
  } catch (const std::exception&) {
  }
  try {
    std::vector<unsigned char> bytes;
    tarvex::serialization::access::read_binary(file, bytes);
  } catch (const std::exception&) {
  }
  return 0;
}
