// Exhaustive checks for the minimisers' tests: every value of a small function, and the best
// completion of a partial labelling.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "evaluate.h"
#include "pbf.h"

namespace pbf::testing {

// f at every assignment of the ids 0 .. n-1 (n >= MaxId() + 1, n <= 20): entry m has x_v = bit v.
inline std::vector<int64_t> AllValues(const PBF& f, int32_t n) {
  std::vector<int64_t> values(size_t{1} << n);
  std::vector<uint8_t> x(static_cast<size_t>(std::max(n, 1)));
  for (size_t m = 0; m < values.size(); ++m) {
    for (int32_t v = 0; v < n; ++v) x[static_cast<size_t>(v)] = (m >> v) & 1;
    values[m] = Evaluate(f, x.data());
  }
  return values;
}

// The smallest value over the assignments that agree with every label that is 0 or 1 (labels of
// other values leave their variable free).
template <typename Label>
int64_t BestCompletion(const std::vector<int64_t>& values, const std::vector<Label>& labels) {
  int64_t best = std::numeric_limits<int64_t>::max();
  for (size_t m = 0; m < values.size(); ++m) {
    bool agrees = true;
    for (size_t v = 0; v < labels.size() && agrees; ++v) {
      if (labels[v] == 0 || labels[v] == 1) agrees = static_cast<int>((m >> v) & 1) == labels[v];
    }
    if (agrees) best = std::min(best, values[m]);
  }
  return best;
}

// A function with this constant and whatever `edit` adds: the rows of the degenerate-input tables.
template <typename Edit>
PBF MakeFunction(int32_t constant, Edit&& edit) {
  PBF f;
  f.constant = constant;
  edit(f);
  return f;
}

// A random quadratic function over ids below n: `count` unary and pair terms with ids in any
// order, (i, i) and (j, i) included, about one coefficient in eight zero. Ids in `skipped` are
// never used (gaps). With `submodular`, every pair coefficient is <= 0.
inline PBF RandomQuadratic(std::mt19937& rng, int32_t n, int32_t count, int32_t range,
                           bool submodular, const std::vector<int32_t>& skipped = {}) {
  std::vector<int32_t> ids;
  for (int32_t v = 0; v < n; ++v) {
    if (std::find(skipped.begin(), skipped.end(), v) == skipped.end()) ids.push_back(v);
  }
  std::uniform_int_distribution<size_t> pick(0, ids.size() - 1);
  std::uniform_int_distribution<int32_t> coef(-range, range);
  std::uniform_int_distribution<int32_t> kind(0, 7);
  PBF f;
  f.constant = coef(rng);
  for (int32_t t = 0; t < count; ++t) {
    const int32_t i = ids[pick(rng)];
    const int32_t j = ids[pick(rng)];
    int32_t a = kind(rng) == 0 ? 0 : coef(rng);
    if (kind(rng) < 2) {
      f.AddUnary(a, i);
    } else {
      if (submodular && i != j) a = -std::abs(a);
      f.AddPairwise(a, i, j);
    }
  }
  return f;
}

}  // namespace pbf::testing
