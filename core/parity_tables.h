// The numbers below 2^D with an even and with an odd count of set bits, each list ascending and
// closed by a stop entry (2^D + 1 for `even`, 2^D for `odd`). Both reductions walk configurations
// of one parity through these lists; since the lists ascend, the entries below 2^d serve every
// degree d <= D, so one process-wide copy is built once for the largest degree met.
//
// Process-wide mutable state without a lock: all callers run on the one thread that holds the
// interpreter lock.
#pragma once

#include <cstdint>
#include <vector>

#include "pbf_limits.h"

namespace pbf {

struct ParityTables {
  int32_t built_degree = 0;
  std::vector<int32_t> even;
  std::vector<int32_t> odd;
};

// Whether the configurations that cancel a term of this degree and coefficient have odd parity.
// The indicator of configuration s gives the product of all the term's variables the sign
// (-1)^(degree - |s|), and |coef| times it must be -coef.
inline bool CancelsWithOddParity(int32_t degree, int32_t coef) {
  return degree % 2 == 1 ? coef < 0 : coef > 0;
}

// The process-wide instance.
const ParityTables& SharedParityTables();

// Afterwards SharedParityTables() covers configurations of d bits (1 <= d <= kMaxApproxDegree). On
// allocation failure it throws and `built_degree` keeps its former value, so no reader goes past
// the lists.
void EnsureParityTables(int32_t d);

}  // namespace pbf
