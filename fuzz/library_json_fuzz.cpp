// The JSON readers of every configuration class, through the registries where the
// class is registered and through read_from_json always. Whatever reads back must
// write in both forms and read back again.
#include <cstdint>
#include <exception>

#include "Serialization/serialization_registry.h"
#include "fuzz_support.h"
#include "registered_classes.h"

namespace {

struct read_json {
  std::string file;
  nlohmann::ordered_json document;  // read in place: copying a deep document recurses
  template <class C>
  void operator()() {
    std::shared_ptr<const C> object;
    try {
      object = C::read_from_json(file);
    } catch (const std::exception&) {
    }
    const bool has_root = document.is_object() && document.contains("root");
    if (const auto* entry = tarvex::JsonSerializationRegistry().find(tarvex::demangle(typeid(C)))) {
      try {
        std::shared_ptr<const C> held;
        (*entry)(has_root ? document["root"] : document, &held, true);
      } catch (const std::exception&) {
      }
    }
    // A file marked "empty" reads back as the default object, unvalidated by design.
    const bool marked_empty = has_root && document["root"].is_object() && document["root"].contains("Class") &&
                              document["root"]["Class"] == "empty";
    if (!object || marked_empty) return;
    tarvex::fuzz::must_not_throw([&] {
      (void)C::json_to_string(object);
      const std::string binary = file + ".bin";  // scripts/fuzz.sh keeps these in memory
      C::write_to_binary(binary, object);
      (void)C::read_from_binary(binary);
    });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  read_json reader{tarvex::fuzz::as_file(data + 1, size - 1, "input.json"), {}};
  reader.document = nlohmann::ordered_json::parse(data + 1, data + size, nullptr, false);
  if (reader.document.is_discarded()) reader.document = nullptr;
  tarvex::fuzz::with_class(data[0], reader);
  return 0;
}
