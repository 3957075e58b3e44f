#pragma once
#include <memory>
#include <vector>

#include "Market/any_container.h"
#include "Market/any_id.h"

namespace tarvex {

class diffusion_id;

struct simulation_helper {
  // Every identifier a simulation of `ids` needs: the requested ones closed over their
  // dependencies (each identifier's discovery, under the numeraire of the measure held
  // in the container under measure_id). Without a measure in the container the answer
  // is the measure_id alone: the client must supply the measure first.
  static std::vector<any_id> discovery(const std::vector<std::shared_ptr<const diffusion_id>>& ids,
                                       const std::shared_ptr<const any_container>& container);
};

}  // namespace tarvex
