#include "PDE/pde_storage.h"

#include "Core/check.h"

namespace tarvex {

pde_storage::pde_storage(std::size_t layers, std::size_t results, std::vector<std::size_t> dimensions)
    : layers_(layers), results_(results), result_(std::move(dimensions)) {
  TARVEX_CHECK(layers == 1, "pde_storage keeps one layer, asked for ", layers);
  TARVEX_CHECK(results == 0 || result_.size() % results == 0, "pde_storage of ", result_.size(),
               " entries cannot hold ", results, " results");
  result_.fill(0.0);
}

}  // namespace tarvex
