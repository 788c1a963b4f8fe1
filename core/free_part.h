// What roof duality leaves open: the quadratic function restricted to its unlabelled variables,
// with the labelled ones substituted, as adjacency lists. Probing and the improvement moves work on
// it; the roof-dual solver builds it from its network, so that the (much larger) quadratic PBF can
// be released before the flow runs.
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

// Sorts each adjacency list by neighbour, merges equal neighbours and drops pairs that cancel.
void MergeAdjacency(FreePart& part);

// The free part of a quadratic function given term by term: the variables whose label is -1, the
// others set to their labels (0 or 1). `for_each_term(unary, pair)` must call unary(v, b) and
// pair(i, j, a) for every term of the function (ids below labels.size(), i == j allowed, int64
// coefficients), the same way both times it is called. Pairs are merged, so (i, j) and (j, i)
// become one. Cost: two walks over the terms plus sorting each adjacency list.
template <typename ForEachTerm>
FreePart BuildFreePart(const std::vector<int8_t>& labels, ForEachTerm&& for_each_term) {
  FreePart part;
  std::vector<int32_t> local(labels.size(), -1);
  for (size_t v = 0; v < labels.size(); ++v) {
    if (labels[v] >= 0) continue;
    local[v] = static_cast<int32_t>(part.ids.size());
    part.ids.push_back(static_cast<int32_t>(v));
  }
  const size_t n = part.ids.size();
  part.unary.assign(n, 0);
  // The first walk substitutes the labelled ends and counts the pairs within the part.
  std::vector<uint32_t> cursor(n + 1, 0);
  for_each_term(
      [&](size_t v, int64_t b) {
        if (local[v] >= 0) part.unary[static_cast<size_t>(local[v])] += b;
      },
      [&](size_t i, size_t j, int64_t a) {
        const int32_t ki = local[i], kj = local[j];
        if (a == 0 || (ki < 0 && kj < 0)) return;
        if (ki >= 0 && kj >= 0 && ki != kj) {
          ++cursor[static_cast<size_t>(ki)];
          ++cursor[static_cast<size_t>(kj)];
        } else if (ki >= 0 && (ki == kj || labels[j] == 1)) {
          part.unary[static_cast<size_t>(ki)] += a;
        } else if (kj >= 0 && labels[i] == 1) {
          part.unary[static_cast<size_t>(kj)] += a;
        }
      });
  part.first.assign(n + 1, 0);
  for (size_t k = 0; k < n; ++k) {
    part.first[k + 1] = part.first[k] + cursor[k];
    cursor[k] = part.first[k];
  }
  part.neighbour.resize(part.first[n]);
  part.coef.resize(part.first[n]);
  for_each_term([](size_t, int64_t) {},
                [&](size_t i, size_t j, int64_t a) {
                  const int32_t ki = local[i], kj = local[j];
                  if (a == 0 || ki < 0 || kj < 0 || ki == kj) return;
                  const uint32_t pi = cursor[static_cast<size_t>(ki)]++;
                  const uint32_t pj = cursor[static_cast<size_t>(kj)]++;
                  part.neighbour[pi] = static_cast<uint32_t>(kj);
                  part.coef[pi] = a;
                  part.neighbour[pj] = static_cast<uint32_t>(ki);
                  part.coef[pj] = a;
                });
  MergeAdjacency(part);
  return part;
}

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
