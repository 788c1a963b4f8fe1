// The search of the exact reduction (dominated_configuration.cpp).
#pragma once

#include <cstdint>

#include "local_function.h"
#include "pbf.h"

namespace pbf {

// For the function `local` built by PBF::BuildNeighbourhood around `term`, a configuration of the
// term's variables that is strictly worse than another one whatever the other variables are,
// preferring the target parity (odd when `odd` is set); -1 when there is none or the term lies
// outside the search's limits. When the configuration comes from outside the target parity,
// `amount` is negated.
int32_t FindDominatedConfiguration(const LocalFunction& local, TermRef term, bool odd,
                                   int32_t& amount);

}  // namespace pbf
