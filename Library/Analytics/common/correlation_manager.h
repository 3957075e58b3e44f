#pragma once
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/foundations/serializable.h"
#include "Market/market_data.h"
#include "Util/datetime.h"
#include "Vectorization/matrix.h"

namespace tarvex {

// The correlation between the Gaussian factors of a list of diffusions, as of a
// valuation date. Each identifier owns a block of consecutive rows and columns, as
// many as its diffusion has factors, in list order: the block of the k-th identifier
// starts at factors[0] + ... + factors[k - 1].
//
// Identifiers are found by content (data_id::operator==), so a caller may ask with
// its own, separately built identifiers. The matrix's size and symmetry are the
// client's: only the lists are validated at construction, and a requested block
// that lies outside the matrix is refused when it is extracted.
class correlation_manager : public market_data {
  TARVEX_SERIALIZABLE(correlation_manager)

 public:
  using id_list = std::vector<std::shared_ptr<const diffusion_id>>;

  // Copies the three; expects non-empty lists of equal length.
  correlation_manager(const datetime& valuation_date, const id_list& ids, const std::vector<std::size_t>& factors,
                      const matrix<double>& correlation);

  // The identifiers in block order.
  const id_list& ids() const { return ids_; }
  // Identifier i; expects i < ids().size().
  const std::shared_ptr<const diffusion_id>& id(std::size_t i) const;
  // Factors per identifier, in block order.
  const std::vector<std::size_t>& factors() const { return factors_; }
  // The full matrix.
  const matrix<double>& correlation() const { return correlation_; }

  // The number of factors of a listed identifier: " id not fount in the list" otherwise.
  std::size_t number_of_factors(const std::shared_ptr<const diffusion_id>& id) const;
  // The correlation between the factor blocks of two lists, in the lists' order
  // (blocks repeat when an identifier repeats); with equal lists, the correlation of
  // a simulation's factors. Every identifier must be listed.
  matrix<double> pair_correlation_matrix(const id_list& row_ids, const id_list& column_ids) const;

 private:
  correlation_manager() = default;
  void initialize();
  void validate() const;
  // Position of the first listed identifier equal to `id`.
  std::size_t find(const std::shared_ptr<const diffusion_id>& id) const;
  // First row and column of block k.
  std::size_t block_start(std::size_t k) const;

  // Field order is the file format. The date belongs to the market_data base: it is
  // written from there and handed back through finalize() when read.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    datetime date = self.has_valuation_date() ? self.valuation_date() : datetime();
    w("valuation_date", date);
    if constexpr (!std::is_const_v<Self>) self.finalize(date);
    w("factors", self.factors_);
    w("correlation", self.correlation_);
    w("ids", self.ids_);
  }

  id_list ids_;
  std::vector<std::size_t> factors_;
  matrix<double> correlation_;
};

}  // namespace tarvex
