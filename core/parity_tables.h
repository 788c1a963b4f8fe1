// The numbers below 2^D with an even and with an odd count of set bits, each list ascending and
// closed by a stop entry (2^D + 1 for `even`, 2^D for `odd`). Both reductions walk configurations
// of one parity through these lists; since the lists ascend, the entries below 2^d serve every
// degree d <= D, so one process-wide copy is built for the largest degree met.
//
// Threads reducing different functions share that copy. It is never changed once published: a
// larger degree builds new tables, one thread at a time, and publishes them whole, while every
// reader holds a snapshot (a shared pointer to const tables) that stays valid and unchanged for
// as long as it holds it. A reduction takes its snapshot once, not per term.
#pragma once

#include <cstdint>
#include <memory>
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

// The process-wide tables as they stand (built_degree 0 and empty lists before any growth).
std::shared_ptr<const ParityTables> SharedParityTables();

// The process-wide tables, grown first if they do not yet cover configurations of d bits
// (1 <= d <= kMaxApproxDegree); they never shrink. Safe to call from several threads at once. On
// allocation failure it throws and the tables stay as they were.
std::shared_ptr<const ParityTables> EnsureParityTables(int32_t d);

}  // namespace pbf
