// Roof duality for quadratic pseudo-Boolean functions: a lower bound on the minimum and labels that
// some minimiser shares, computed with one maximum flow.
#pragma once

#include <cstdint>
#include <vector>

#include "pbf.h"

namespace pbf {

struct RoofDual {
  std::vector<int8_t> labels;  // one per id 0 .. MaxId(): 0 or 1 where fixed, -1 where not
  int64_t lower_bound = 0;     // the roof-dual bound rounded up, constant included; <= min q
};

// The roof dual of q. Precondition (the caller checks): every term of q with a non-zero
// coefficient has degree <= 2; higher terms are not read. Ids may come in any order, (i, i) is
// x_i, and (i, j) and (j, i) add up. Coefficients are summed exactly in 64 bits (no wrap-around).
// Weak persistency: some minimiser of q agrees with all fixed labels at once. Ids that occur in no
// term with a non-zero coefficient are labelled 0, which any minimiser may take. An empty q gives
// no labels and its constant as the bound. Only q's tables are read (not its occurrence lists).
RoofDual RoofDuality(const PBF& q);

}  // namespace pbf
