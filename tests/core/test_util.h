// Helpers shared by the core tests: evaluation by brute force, the store's invariants, and small
// random functions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "pbf.h"
#include "wrap.h"

// AddressSanitizer aborts on an allocation it cannot serve instead of throwing std::bad_alloc, so
// tests that provoke allocation failure run only in uninstrumented builds.
#if defined(__SANITIZE_ADDRESS__)
#define PBF_SKIP_UNDER_ASAN() GTEST_SKIP() << "allocation failure aborts under AddressSanitizer"
#else
#define PBF_SKIP_UNDER_ASAN() static_cast<void>(0)
#endif

namespace pbf::testing {

// The value of f where variable v takes bit v of `assignment` (ids below 64).
inline int32_t Evaluate(const PBF& f, uint64_t assignment) {
  int32_t value = f.constant;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t t = 0; t < table->Size(); ++t) {
      const int32_t* ids = table->Ids(t);
      bool all = true;
      for (int32_t k = 0; k < table->degree && all; ++k) all = (assignment >> ids[k]) & 1;
      if (all) value = WrapAdd(value, table->coefs[static_cast<size_t>(t)]);
    }
  }
  return value;
}

// Every invariant of the store: slots, table shapes, no duplicate terms, and occurrence lists
// that name each (degree, index) exactly once per position of its variable list.
inline void ExpectInvariants(const PBF& f) {
  const TermStore& s = f.terms;
  ASSERT_GE(s.tables.size(), 3u);
  EXPECT_FALSE(s.tables[0].has_value());
  ASSERT_TRUE(s.tables[1].has_value());
  ASSERT_TRUE(s.tables[2].has_value());
  std::vector<std::map<std::pair<int32_t, int32_t>, int>> per_var;
  int32_t largest = -1;
  for (size_t d = 1; d < s.tables.size(); ++d) {
    if (!s.tables[d]) continue;
    const TermTable& table = *s.tables[d];
    EXPECT_EQ(table.degree, static_cast<int32_t>(d));
    ASSERT_EQ(table.vars.size(), d * table.coefs.size());
    std::map<std::vector<int32_t>, int> seen;
    for (int32_t t = 0; t < table.Size(); ++t) {
      std::vector<int32_t> ids(table.Ids(t), table.Ids(t) + d);
      EXPECT_EQ(++seen[ids], 1) << "duplicate term of degree " << d;
      for (int32_t id : ids) {
        ASSERT_GE(id, 0);
        largest = std::max(largest, id);
        if (per_var.size() <= static_cast<size_t>(id)) per_var.resize(static_cast<size_t>(id) + 1);
        ++per_var[static_cast<size_t>(id)][{static_cast<int32_t>(d), t}];
      }
    }
  }
  ASSERT_GE(s.occurrences.size(), static_cast<size_t>(largest + 1));
  for (size_t v = 0; v < s.occurrences.size(); ++v) {
    std::map<std::pair<int32_t, int32_t>, int> listed;
    for (const Occurrence& o : s.occurrences[v]) ++listed[{o.degree, o.index}];
    const auto want = v < per_var.size() ? per_var[v] : std::map<std::pair<int32_t, int32_t>, int>{};
    EXPECT_EQ(listed, want) << "occurrence list of variable " << v;
  }
}

// A random function over `vars` variables: `count` terms of degree 1..max_degree with distinct
// ascending ids (degree capped by vars), coefficients in [-range, range], plus a constant.
inline PBF RandomFunction(std::mt19937& rng, int32_t vars, int32_t count, int32_t max_degree,
                          int32_t range) {
  PBF f;
  std::uniform_int_distribution<int32_t> coef(-range, range);
  std::uniform_int_distribution<int32_t> degree(1, std::min(max_degree, vars));
  std::vector<int32_t> pool(static_cast<size_t>(vars));
  for (int32_t v = 0; v < vars; ++v) pool[static_cast<size_t>(v)] = v;
  f.constant = coef(rng);
  for (int32_t n = 0; n < count; ++n) {
    const int32_t d = degree(rng);
    std::shuffle(pool.begin(), pool.end(), rng);
    std::vector<int32_t> ids(pool.begin(), pool.begin() + d);
    std::sort(ids.begin(), ids.end());
    f.AddTerm(coef(rng), d, ids.data());
  }
  return f;
}

}  // namespace pbf::testing
