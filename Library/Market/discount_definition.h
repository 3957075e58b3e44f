#pragma once
#include <string>

namespace tarvex::serialization {
struct object_io;
}

namespace tarvex {

// Which curve of a currency is meant: its index or collateral name ("OIS", "SOFR",
// "EURIBOR6M"). Not empty.
class discount_definition {
 public:
  explicit discount_definition(std::string name);

  const std::string& name() const { return name_; }
  const std::string& to_string() const { return name_; }
  bool operator==(const discount_definition&) const = default;

 private:
  friend struct ::tarvex::serialization::object_io;
  friend class discount_id;
  friend class default_id;
  discount_definition() = default;
  void initialize();

  std::string name_;
};

}  // namespace tarvex
