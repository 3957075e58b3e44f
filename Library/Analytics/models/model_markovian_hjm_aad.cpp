// Adjoint operations of model_markovian_hjm.
#include "Analytics/models/model_markovian_hjm.h"

namespace tarvex {}  // namespace tarvex
