// The binary readers of every configuration class, through the registries where the
// class is registered and through read_from_binary always. Whatever reads back must
// also have a JSON form.
#include <cstdint>
#include <exception>
#include <vector>

#include "Core/multi_process_stream.h"
#include "Serialization/serialization_registry.h"
#include "fuzz_support.h"
#include "registered_classes.h"

namespace {

struct read_binary {
  std::vector<unsigned char> payload;
  std::string file;
  template <class C>
  void operator()() const {
    std::shared_ptr<const C> object;
    try {
      object = C::read_from_binary(file);
    } catch (const std::exception&) {
    }
    if (const auto* entry = tarvex::BinarySerializationRegistry().find(tarvex::demangle(typeid(C)))) {
      try {
        tarvex::multi_process_stream s;
        s.SetRawData(payload);
        std::shared_ptr<const C> held;
        (*entry)(s, &held, true);
      } catch (const std::exception&) {
      }
    }
    if (object) tarvex::fuzz::must_not_throw([&] { (void)C::json_to_string(object); });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The payload is wrapped in a valid envelope, so the fuzzer works on the fields
  // rather than on the checksum.
  read_binary reader{std::vector<unsigned char>(data + 1, data + size), {}};
  const std::string envelope = tarvex::fuzz::binary_envelope(reader.payload);
  reader.file = tarvex::fuzz::as_file(reinterpret_cast<const std::uint8_t*>(envelope.data()), envelope.size(),
                                      "input.bin");
  tarvex::fuzz::with_class(data[0], reader);
  return 0;
}
