#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Analytics/foundations/serializable.h"
#include "Market/discount_id.h"

namespace tarvex {

// Names the exchange-rate factor between two curves' currencies: units of the
// domestic currency per unit of the foreign one. Ordered: (a, b) and (b, a) are
// different factors with different hashes; text "<domestic text>_<foreign text>".
class diffusion_fx_id : public diffusion_id {
  TARVEX_SERIALIZABLE(diffusion_fx_id)

 public:
  // Both interest-rate identifiers are built from the discount ids, domestic first;
  // neither may be null ("invalide discount_id!").
  diffusion_fx_id(const std::shared_ptr<const discount_id>& domestic,
                  const std::shared_ptr<const discount_id>& foreign);

  // The interest-rate factor of the domestic currency.
  const std::shared_ptr<const diffusion_ir_id>& diffusion_ir_id_domestic() const { return diffusion_ir_id_domestic_; }
  // The interest-rate factor of the foreign currency.
  const std::shared_ptr<const diffusion_ir_id>& diffusion_ir_id_foreign() const { return diffusion_ir_id_foreign_; }

  std::string to_string() const override;
  std::uint64_t hash() const override;
  // Adds the domestic, then the foreign interest-rate identifier.
  void discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                 const std::shared_ptr<const any_container>& container,
                 std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const override;

 protected:
  bool same_as(const data_id& other) const override;

 private:
  diffusion_fx_id() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("diffusion_ir_id_domestic", self.diffusion_ir_id_domestic_);
    w("diffusion_ir_id_foreign", self.diffusion_ir_id_foreign_);
  }

  std::shared_ptr<const diffusion_ir_id> diffusion_ir_id_domestic_;
  std::shared_ptr<const diffusion_ir_id> diffusion_ir_id_foreign_;
};

}  // namespace tarvex
