// The free part of a quadratic function after roof duality, and restrictions of it.
//
// The adjacency lists are filled by a counting sort over q's pairs, then each list is sorted by
// neighbour and equal neighbours merged, so that (i, j) and (j, i) become one pair: the solver
// wants pairs of opposite signs merged, and probing and the moves solve many small restrictions,
// for which a canonical form is also the smallest. Cost: O(pairs) plus the sorts of the lists.
#include "free_part.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace pbf {

FreePart MakeFreePart(const PBF& q, const std::vector<int8_t>& labels) {
  FreePart part;
  std::vector<int32_t> local(labels.size(), -1);
  for (size_t v = 0; v < labels.size(); ++v) {
    if (labels[v] >= 0) continue;
    local[v] = static_cast<int32_t>(part.ids.size());
    part.ids.push_back(static_cast<int32_t>(v));
  }
  const size_t n = part.ids.size();
  part.unary.assign(n, 0);
  const TermTable& unary = q.terms.Table(1);
  for (int32_t t = 0; t < unary.Size(); ++t) {
    const int32_t k = local[static_cast<size_t>(unary.Ids(t)[0])];
    if (k >= 0) part.unary[static_cast<size_t>(k)] += unary.coefs[static_cast<size_t>(t)];
  }
  // One pass substitutes the labelled ends and counts the pairs within the part, one fills them.
  const TermTable& pairs = q.terms.Table(2);
  std::vector<uint32_t> degree(n + 1, 0);
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int64_t a = pairs.coefs[static_cast<size_t>(t)];
    if (a == 0) continue;
    const int32_t i = pairs.Ids(t)[0], j = pairs.Ids(t)[1];
    const int32_t ki = local[static_cast<size_t>(i)], kj = local[static_cast<size_t>(j)];
    if (ki >= 0 && kj >= 0) {
      if (ki == kj) {
        part.unary[static_cast<size_t>(ki)] += a;
      } else {
        ++degree[static_cast<size_t>(ki)];
        ++degree[static_cast<size_t>(kj)];
      }
    } else if (ki >= 0 && labels[static_cast<size_t>(j)] == 1) {
      part.unary[static_cast<size_t>(ki)] += a;
    } else if (kj >= 0 && labels[static_cast<size_t>(i)] == 1) {
      part.unary[static_cast<size_t>(kj)] += a;
    }
  }
  part.first.assign(n + 1, 0);
  for (size_t k = 0; k < n; ++k) part.first[k + 1] = part.first[k] + degree[k];
  part.neighbour.resize(part.first[n]);
  part.coef.resize(part.first[n]);
  std::copy(part.first.begin(), part.first.end() - 1, degree.begin());  // fill cursors
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int64_t a = pairs.coefs[static_cast<size_t>(t)];
    const int32_t ki = local[static_cast<size_t>(pairs.Ids(t)[0])];
    const int32_t kj = local[static_cast<size_t>(pairs.Ids(t)[1])];
    if (a == 0 || ki < 0 || kj < 0 || ki == kj) continue;
    const uint32_t pi = degree[static_cast<size_t>(ki)]++, pj = degree[static_cast<size_t>(kj)]++;
    part.neighbour[pi] = static_cast<uint32_t>(kj);
    part.coef[pi] = a;
    part.neighbour[pj] = static_cast<uint32_t>(ki);
    part.coef[pj] = a;
  }
  // Merge each list in place; both ends of a pair see the same sum, so a pair that cancels
  // disappears from both.
  std::vector<std::pair<uint32_t, int64_t>> list;
  uint32_t out = 0;
  for (size_t k = 0; k < n; ++k) {
    list.clear();
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e)
      list.emplace_back(part.neighbour[e], part.coef[e]);
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
  return part;
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
