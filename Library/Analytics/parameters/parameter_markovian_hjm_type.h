#pragma once
#include <cstdint>

namespace tarvex {

// How the decay rows of a Markovian HJM parameter set are read.
enum class parameter_markovian_hjm_type : std::int32_t {
  mean_reversion = 0,  // each entry is a decay rate kappa, constant until the next row's date
  decay_factor = 1,    // each entry is the decay factor itself on its row's date
};

}  // namespace tarvex
