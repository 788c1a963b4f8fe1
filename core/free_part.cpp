// The free part of a quadratic function after roof duality, and restrictions of it.
//
// The adjacency lists are filled by a counting sort over the pairs (BuildFreePart), then each list
// is sorted by neighbour and equal neighbours merged, so that (i, j) and (j, i) become one pair:
// the solver wants pairs of opposite signs merged, and probing and the moves solve many small
// restrictions, for which a canonical form is also the smallest.
#include "free_part.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace pbf {

void MergeAdjacency(FreePart& part) {
  // Both ends of a pair see the same sum, so a pair that cancels disappears from both.
  std::vector<std::pair<uint32_t, int64_t>> list;
  uint32_t out = 0;
  const size_t n = part.Size();
  for (size_t k = 0; k < n; ++k) {
    list.clear();
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
      list.emplace_back(part.neighbour[e], part.coef[e]);
    }
    std::sort(list.begin(), list.end());
    part.first[k] = out;
    for (size_t e = 0; e < list.size();) {
      int64_t sum = 0;
      const uint32_t l = list[e].first;
      for (; e < list.size() && list[e].first == l; ++e) sum += list[e].second;
      if (sum == 0) continue;
      part.neighbour[out] = l;
      part.coef[out] = sum;
      ++out;
    }
  }
  part.first[n] = out;
  part.neighbour.resize(out);
  part.coef.resize(out);
  part.neighbour.shrink_to_fit();
  part.coef.shrink_to_fit();
}

QuadraticArrays<int64_t> Restriction::Arrays() const {
  QuadraticArrays<int64_t> arrays;
  arrays.unary = unary;
  arrays.pair_ids = pair_ids.data();
  arrays.pair_coefs = pair_coefs.data();
  arrays.pairs = pair_coefs.size();
  return arrays;
}

Restriction Restrict(const FreePart& part, const std::vector<uint32_t>& members,
                     const std::vector<uint8_t>& x, std::vector<int32_t>& position) {
  for (size_t p = 0; p < members.size(); ++p) position[members[p]] = static_cast<int32_t>(p);
  Restriction r;
  r.unary.resize(members.size());
  for (size_t p = 0; p < members.size(); ++p) {
    const uint32_t k = members[p];
    int64_t b = part.unary[k];
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
      const int32_t other = position[part.neighbour[e]];
      if (other < 0) {
        if (x[part.neighbour[e]]) b += part.coef[e];
      } else if (other > static_cast<int32_t>(p)) {
        r.pair_ids.push_back(static_cast<int32_t>(p));
        r.pair_ids.push_back(other);
        r.pair_coefs.push_back(part.coef[e]);
      }
    }
    r.unary[p] = b;
  }
  for (const uint32_t k : members) position[k] = -1;
  return r;
}

int64_t ScopeEnergy(const FreePart& part, const std::vector<uint32_t>& scope,
                    const std::vector<uint8_t>& x) {
  int64_t value = 0;
  for (const uint32_t k : scope) {
    if (!x[k]) continue;
    value += part.unary[k];
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
      if (part.neighbour[e] > k && x[part.neighbour[e]]) value += part.coef[e];
    }
  }
  return value;
}

}  // namespace pbf
