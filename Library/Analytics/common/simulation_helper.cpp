#include "Analytics/common/simulation_helper.h"

#include <functional>
#include <unordered_set>

#include "Analytics/change_of_measure/measure_id.h"
#include "Analytics/change_of_measure/measures.h"
#include "Analytics/diffusion/common/id/diffusion_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Core/check.h"

namespace tarvex {

std::vector<any_id> simulation_helper::discovery(const std::vector<std::shared_ptr<const diffusion_id>>& ids,
                                                 const std::shared_ptr<const any_container>& container) {
  const auto key = any_id(std::shared_ptr<const config_data_id>(std::make_shared<const measure_id>()));
  if (!container || !container->contains(key)) return {key};

  const auto& config = std::get<std::shared_ptr<const config_data>>(container->get(key));
  const auto chosen = std::dynamic_pointer_cast<const measure>(config);
  TARVEX_CHECK(chosen != nullptr, "the configuration stored under measure_id is not a measure");
  const std::shared_ptr<const diffusion_id> numeraire = std::make_shared<const diffusion_ir_id>(chosen->id());

  std::unordered_set<std::shared_ptr<const diffusion_id>> found;
  std::function<void(const std::shared_ptr<const diffusion_id>&)> add = [&](const std::shared_ptr<const diffusion_id>& x) {
    if (found.contains(x)) return;
    found.insert(x);
    std::unordered_set<std::shared_ptr<const diffusion_id>> needed;
    x->discovery(numeraire, container, needed);
    for (const auto& y : needed)
      if (!found.contains(y)) add(y);
  };
  for (const auto& id : ids) {
    TARVEX_CHECK(id != nullptr, "null identifier requested");
    add(id);
  }

  std::vector<any_id> result;
  result.reserve(found.size());
  for (const auto& id : found) result.emplace_back(std::shared_ptr<const market_data_id>(id));
  return result;
}

}  // namespace tarvex
