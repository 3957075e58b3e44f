#pragma once
#include <cstdint>

namespace tarvex {

// How the decay rows of a Markovian HJM parameter set are read. Which row governs which
// stretch of time is stated once, in parameter_markovian_hjm.h.
enum class parameter_markovian_hjm_type : std::int32_t {
  mean_reversion = 0,  // each entry is a decay rate kappa over the stretch its row governs
  decay_factor = 1,    // each entry is the decay factor itself over the stretch its row governs
};

}  // namespace tarvex
