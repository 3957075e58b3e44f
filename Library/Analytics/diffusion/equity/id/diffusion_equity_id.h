#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Analytics/foundations/serializable.h"
#include "Market/discount_id.h"
#include "Util/key.h"

namespace tarvex {

// Names the spot factor of one equity, quoted in the currency of its domestic curve.
// Equal to another with the same name and an equal domestic curve; text
// "<name>_<domestic curve text>".
class diffusion_equity_id : public diffusion_id {
  TARVEX_SERIALIZABLE(diffusion_equity_id)

 public:
  // The domestic interest-rate identifier is built from `domestic` (which must not be
  // null: "invalide discount_id!"); `name` is the equity's key.
  diffusion_equity_id(const std::shared_ptr<const discount_id>& domestic, key name);

  // The interest-rate factor of the equity's currency.
  const std::shared_ptr<const diffusion_ir_id>& diffusion_ir_id_domestic() const { return diffusion_ir_id_domestic_; }
  // The equity's name.
  const key& name() const { return key_; }

  std::string to_string() const override;
  // Depends on the name and the domestic curve only.
  std::uint64_t hash() const override;
  // Adds the domestic interest-rate identifier.
  void discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                 const std::shared_ptr<const any_container>& container,
                 std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const override;

 protected:
  bool same_as(const data_id& other) const override;

 private:
  diffusion_equity_id() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("diffusion_domestic_ir_id", self.diffusion_ir_id_domestic_);
    w("name", self.key_);
  }

  std::shared_ptr<const diffusion_ir_id> diffusion_ir_id_domestic_;
  key key_;
};

}  // namespace tarvex
