#pragma once
#include <cstdint>
#include <string>

#include "Analytics/foundations/serializable.h"
#include "Market/data_id.h"

namespace tarvex {

// The key under which a client's data container holds the pricing measure. Every
// measure_id is the same key: one hash, the empty text, and any two compare equal.
// The integer state is carried through files and is 0 for every constructed object.
class measure_id : public config_data_id {
  TARVEX_SERIALIZABLE(measure_id)

 public:
  measure_id() = default;

  std::int32_t state() const { return state_; }

  // The empty text.
  std::string to_string() const override;
  // key("measure_id").hash(), the same for every object.
  std::uint64_t hash() const override;

 protected:
  bool same_as(const data_id& other) const override;

 private:
  void initialize();

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("state", self.state_);
  }

  std::int32_t state_ = 0;
};

}  // namespace tarvex
