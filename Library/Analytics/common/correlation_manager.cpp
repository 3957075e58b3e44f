#include "Analytics/common/correlation_manager.h"

#include <algorithm>

#include "Analytics/foundations/serialization_io.h"
#include "Core/check.h"

// The record:
//
//   {
//     "Class": "tarvex::correlation_manager",
//     "valuation_date": 46027.0,
//     "factors": [2, 1],
//     "correlation": {"class": "tarvex.matrix", "rows": 3, "columns": 3, "data": [...]},
//     "ids": [
//       {"Class": "tarvex::diffusion_ir_id", "id": {...}},
//       {"Class": "tarvex::diffusion_fx_id", "diffusion_ir_id_domestic": {...}, ...}
//     ]
//   }
//
// Each identifier is written and read through the table of classes registered as
// diffusion_id, by its dynamic class; the binary form carries the same values in the
// same order, the identifiers as a u32 count followed by their records. An
// identifier record marked "empty" reads back as null and is refused by validate().
//
// Blocks, for ids (r, f) with factors (2, 1) on a 3 x 3 matrix C:
//
//          r0    r1    f0
//   r0  [ C00   C01   C02 ]
//   r1  [ C10   C11   C12 ]     block of r: rows and columns 0-1
//   f0  [ C20   C21   C22 ]     block of f: row and column 2
//
// so pair_correlation_matrix({f}, {r}) is the 1 x 2 matrix [C20 C21], and
// pair_correlation_matrix({f, r}, {f, r}) is C with its blocks reordered.

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(correlation_manager)
TARVEX_REGISTER_SERIALIZER(correlation_manager)

namespace {

// out(r + i, c + j) = in(oa + i, ob + j) for i < na, j < nb.
void copy_block(const matrix<double>& in, std::size_t oa, std::size_t ob, std::size_t na, std::size_t nb,
                matrix<double>& out, std::size_t r, std::size_t c) {
  for (std::size_t i = 0; i < na; ++i)
    for (std::size_t j = 0; j < nb; ++j) out(r + i, c + j) = in(oa + i, ob + j);
}

}  // namespace

// Copies all three: the manager outlives the client's lists, and the matrix is kept
// whole so that any pair of lists can be extracted later.
correlation_manager::correlation_manager(const datetime& valuation_date, const id_list& ids,
                                         const std::vector<std::size_t>& factors, const matrix<double>& correlation)
    : market_data(valuation_date), ids_(ids), factors_(factors), correlation_(correlation) {
  initialize();
}

// Bounds-checked: the simulation walks the list by position.
const std::shared_ptr<const diffusion_id>& correlation_manager::id(std::size_t i) const {
  TARVEX_CHECK(i < ids_.size(), "identifier ", i, " asked of ", ids_.size());
  return ids_[i];
}

// The count of the first equal identifier; two ids naming one factor share its block.
std::size_t correlation_manager::number_of_factors(const std::shared_ptr<const diffusion_id>& id) const {
  return factors_[find(id)];
}

// Sizes first, so every identifier is known to be listed before anything is copied;
// then each row block against each column block, both in the callers' order. The
// blocks are copied element by element: they are small (a few factors each) and their
// rows are not contiguous in either matrix.
matrix<double> correlation_manager::pair_correlation_matrix(const id_list& row_ids, const id_list& column_ids) const {
  std::size_t rows = 0, columns = 0;
  for (const auto& a : row_ids) rows += number_of_factors(a);
  for (const auto& b : column_ids) columns += number_of_factors(b);
  // Every entry belongs to exactly one pair of blocks, so all of it is written below.
  matrix<double> result(rows, columns);

  std::size_t r = 0;
  for (const auto& a : row_ids) {
    // Block of a: rows oa .. oa + na - 1 of the full matrix, rows r .. r + na - 1 of
    // the result.
    const std::size_t ka = find(a), oa = block_start(ka), na = factors_[ka];
    TARVEX_CHECK(oa + na <= correlation_.rows(), "block of '", a->to_string(), "' ends at row ", oa + na,
                 " of a correlation of ", correlation_.rows(), " rows");
    std::size_t c = 0;
    for (const auto& b : column_ids) {
      // Block of b: columns ob .. ob + nb - 1 of the full matrix, c .. c + nb - 1 here.
      const std::size_t kb = find(b), ob = block_start(kb), nb = factors_[kb];
      TARVEX_CHECK(ob + nb <= correlation_.columns(), "block of '", b->to_string(), "' ends at column ", ob + nb,
                   " of a correlation of ", correlation_.columns(), " columns");
      // A diffusion without factors owns no rows or columns.
      if (na != 0 && nb != 0) copy_block(correlation_, oa, ob, na, nb, result, r, c);
      c += nb;
    }
    r += na;
  }
  return result;
}

// Linear: a simulation lists a handful of diffusions, and the first equal element
// wins, so an identifier listed twice always maps to its first block. Equality is
// by content (the same dynamic class describing the same factor), never by address:
// the simulation asks with the identifiers of its own discovery, built apart from
// the ones this manager was given. A null identifier is never listed (validate()
// refuses one), so it is not found either, and fails like any identifier that is
// not listed.
std::size_t correlation_manager::find(const std::shared_ptr<const diffusion_id>& id) const {
  if (id != nullptr)
    for (std::size_t k = 0; k < ids_.size(); ++k)
      if (static_cast<const data_id&>(*ids_[k]) == *id) return k;
  TARVEX_FAIL(" id not fount in the list");
}

// Summed on each call rather than stored: the offsets follow from the counts alone,
// and keeping them out of the object keeps the file format the three fields. The
// cost is a few additions per block for lists of a few entries, against an
// allocation per extracted matrix anyway.
std::size_t correlation_manager::block_start(std::size_t k) const {
  std::size_t start = 0;
  for (std::size_t i = 0; i < k; ++i) start += factors_[i];
  return start;
}

// Nothing is derived from the fields: the blocks are located on demand. The check
// runs last, so readers and the constructor hand out checked objects only; a reader
// has restored the valuation date before it gets here.
void correlation_manager::initialize() { validate(); }

// The order of the checks is part of the interface: an empty record reports its
// identifiers first. Beyond the three, a null identifier (a record marked "empty"
// inside "ids") is refused, since every search dereferences the listed ids. The
// factor counts themselves may be zero: a diffusion without Gaussian factors (a
// deterministic one) keeps its place in the list but owns no rows or columns.
void correlation_manager::validate() const {
  TARVEX_CHECK_TEXT(!ids_.empty(), "ids_ are empty!");
  TARVEX_CHECK_TEXT(!factors_.empty(), "factors are empty!");
  // One count per identifier: the blocks are laid out from the counts alone, so a
  // count without an identifier would shift every later block, and an identifier
  // without a count would have no block at all. The matrix may be larger than the
  // blocks (trailing factors of diffusions the client does not list), never
  // smaller: that is checked after the identifiers.
  TARVEX_CHECK(ids_.size() == factors_.size(), "factors size ", factors_.size(), " is different from ids size ",
               ids_.size());
  // Searches compare every listed identifier, so none may be missing.
  for (std::size_t k = 0; k < ids_.size(); ++k) TARVEX_CHECK(ids_[k] != nullptr, "identifier ", k, " is null");
  // Counts from a file are compared with the matrix they describe before any block is
  // sized from them: summed unchecked, huge counts wrap around and every extraction
  // would then allocate or index from garbage. `start` never exceeds the matrix, so
  // the subtractions cannot wrap.
  const std::size_t size = std::min(correlation_.rows(), correlation_.columns());
  std::size_t start = 0;
  for (std::size_t k = 0; k < factors_.size(); ++k) {
    TARVEX_CHECK(factors_[k] <= size - start, "block of identifier ", k, " (", factors_[k],
                 " factors) starts at row ", start, " of a correlation of ", correlation_.rows(), " x ",
                 correlation_.columns());
    start += factors_[k];
  }
  // The JSON form has no non-finite numbers: refusing them here keeps every object
  // writable in both forms.
  for (std::size_t i = 0; i < correlation_.size(); ++i)
    TARVEX_CHECK(std::isfinite(correlation_.data()[i]), "correlation entry ", i / correlation_.columns(), ", ",
                 i % correlation_.columns(), " is ", correlation_.data()[i]);
}

}  // namespace tarvex
