#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/foundations/serializable.h"
#include "Market/discount_id.h"

namespace tarvex {

// Names the interest-rate factor of one discount curve. Equal to another when the
// discount ids are equal; text is the discount id's text ("USD.OIS").
class diffusion_ir_id : public diffusion_id {
  TARVEX_SERIALIZABLE(diffusion_ir_id)

 public:
  // Expects a non-null discount id: "invalide discount_id!" otherwise.
  explicit diffusion_ir_id(const std::shared_ptr<const discount_id>& id);

  // The discount curve's identifier.
  const std::shared_ptr<const discount_id>& id() const { return id_; }

  std::string to_string() const override;
  std::uint64_t hash() const override;
  // In the numeraire's currency nothing is needed; in another currency the numeraire
  // and the exchange rate from the numeraire's curve to this one.
  void discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                 const std::shared_ptr<const any_container>& container,
                 std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const override;

 protected:
  bool same_as(const data_id& other) const override;

 private:
  diffusion_ir_id() = default;
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
