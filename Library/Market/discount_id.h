#pragma once
#include <cstdint>
#include <string>

#include "Market/currency.h"
#include "Market/data_id.h"
#include "Market/discount_definition.h"

namespace tarvex {

// Names a discount curve: its definition within a currency. Text "<ccy>.<definition>",
// e.g. "USD.OIS".
class discount_id : public market_data_id {
 public:
  discount_id(discount_definition definition, currency ccy);

  const discount_definition& definition() const { return definition_; }
  const currency& ccy() const { return ccy_; }

  std::string to_string() const override;
  std::uint64_t hash() const override;

  // File order: "id" (the definition's name), "ccy" (the code).
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("id", self.definition_);
    w("ccy", self.ccy_);
  }

 protected:
  bool same_as(const data_id& other) const override;

 private:
  friend struct ::tarvex::serialization::object_io;
  discount_id() = default;
  void initialize();

  discount_definition definition_;
  currency ccy_;
};

}  // namespace tarvex
