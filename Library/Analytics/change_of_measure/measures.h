#pragma once
#include <memory>

#include "Analytics/foundations/serializable.h"
#include "Market/discount_id.h"
#include "Market/market_data.h"

namespace tarvex {

// The pricing measure of a simulation: the money-market measure of one discount
// curve, named by its identifier. Stored in the client's container under measure_id.
class measure : public config_data {
  TARVEX_SERIALIZABLE(measure)

 public:
  // Expects a non-null discount id: "invalide discount_id!" otherwise.
  explicit measure(const std::shared_ptr<const discount_id>& id);

  // The curve whose numeraire defines the measure.
  const std::shared_ptr<const discount_id>& id() const { return id_; }

 private:
  measure() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("id", self.id_);
  }

  std::shared_ptr<const discount_id> id_;
};

}  // namespace tarvex
