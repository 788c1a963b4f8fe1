// The search of the exact reduction (dominated_configuration.cpp).
#pragma once

#include <cstdint>

#include "configuration_sums.h"
#include "dominance_proof.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "value_table.h"

namespace pbf {

// What the search reuses from term to term, so that once grown a term costs no allocation. Each
// reduction call has its own, so that threads reducing different functions share nothing.
struct SearchScratch {
  ConfigurationSums sums;
  ProofBounds proof;
  ValueTable values;
};

// For the function `local` built by PBF::BuildNeighbourhood around `term`, a configuration of the
// term's variables that is strictly worse than another one whatever the other variables are,
// preferring the target parity (odd when `odd` is set); -1 when there is none or the term lies
// outside the search's limits. When the configuration comes from outside the target parity,
// `amount` is negated. `parity` must cover the term's degree.
int32_t FindDominatedConfiguration(const LocalFunction& local, TermRef term, bool odd,
                                   int32_t& amount, const ParityTables& parity,
                                   SearchScratch& scratch);

}  // namespace pbf
