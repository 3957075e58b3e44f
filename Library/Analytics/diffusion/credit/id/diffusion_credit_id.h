#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/foundations/serializable.h"
#include "Market/default_id.h"

namespace tarvex {

// Names the default-intensity factor of one credit curve. Equal to another when the
// default ids are equal; text is the default id's text.
class diffusion_credit_id : public diffusion_id {
  TARVEX_SERIALIZABLE(diffusion_credit_id)

 public:
  // Expects a non-null default id: "invalide default id!" otherwise.
  explicit diffusion_credit_id(const std::shared_ptr<const default_id>& id);

  // The credit curve's identifier.
  const std::shared_ptr<const default_id>& id() const { return id_; }

  std::string to_string() const override;
  std::uint64_t hash() const override;
  // Adds nothing.
  void discovery(const std::shared_ptr<const diffusion_id>& numeraire,
                 const std::shared_ptr<const any_container>& container,
                 std::unordered_set<std::shared_ptr<const diffusion_id>>& out) const override;

 protected:
  bool same_as(const data_id& other) const override;

 private:
  diffusion_credit_id() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("id", self.id_);
  }

  std::shared_ptr<const default_id> id_;
};

}  // namespace tarvex
