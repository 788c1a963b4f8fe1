// What roof duality leaves open: the quadratic function restricted to its unlabelled variables,
// with the labelled ones substituted, as adjacency lists. Probing and the improvement moves work on
// it, and the (much larger) quadratic PBF can be released before they start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pbf.h"
#include "roof_dual_solver.h"

namespace pbf {

// Local variable k stands for variable ids[k] of q. The function (up to a constant) is
// Σ_k unary[k]·y_k + Σ over unordered pairs {k, l} of coef·y_k·y_l, each pair listed in the
// adjacency of both ends (first[k] .. first[k + 1] - 1 in neighbour and coef), every pair once per
// end with its coefficients merged, none zero.
struct FreePart {
  std::vector<int32_t> ids;
  std::vector<int64_t> unary;
  std::vector<uint32_t> first;
  std::vector<uint32_t> neighbour;
  std::vector<int64_t> coef;

  size_t Size() const { return ids.size(); }
};

// q (degree <= 2, as for RoofDuality) restricted to the ids whose label is -1, the others set to
// their labels. Cost: O(terms of q) plus sorting each adjacency list.
FreePart MakeFreePart(const PBF& q, const std::vector<int8_t>& labels);

// A function over `members` (local variables of part, distinct) in solver form: member p becomes
// variable p; every other local variable k takes the value x[k] (0 or 1). The constant is 0: the
// terms among non-members are left out. `position` is scratch of part.Size() entries, all -1 on
// entry and on return.
struct Restriction {
  std::vector<int64_t> unary;
  std::vector<int32_t> pair_ids;
  std::vector<int64_t> pair_coefs;

  QuadraticArrays<int64_t> Arrays() const;
};
Restriction Restrict(const FreePart& part, const std::vector<uint32_t>& members,
                     const std::vector<uint8_t>& x, std::vector<int32_t>& position);

// The part's value at x over `scope`, a union of connected components (no pair leaves it).
int64_t ScopeEnergy(const FreePart& part, const std::vector<uint32_t>& scope,
                    const std::vector<uint8_t>& x);

}  // namespace pbf
