// Helpers shared by the core tests: evaluation by brute force and the store's invariants (from
// checks.h, which the fuzzer shares), and small random functions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "checks.h"
#include "pbf.h"

// AddressSanitizer aborts on an allocation it cannot serve instead of throwing std::bad_alloc, so
// tests that provoke allocation failure run only in uninstrumented builds.
#if defined(__SANITIZE_ADDRESS__)
#define PBF_SKIP_UNDER_ASAN() GTEST_SKIP() << "allocation failure aborts under AddressSanitizer"
#else
#define PBF_SKIP_UNDER_ASAN() static_cast<void>(0)
#endif

namespace pbf::testing {

// Every invariant of the store (see checks.h).
inline void ExpectInvariants(const PBF& f) { EXPECT_EQ(InvariantViolation(f), ""); }

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

// `d` distinct ids below `vars`, ascending, drawn at random.
inline std::vector<int32_t> RandomAscendingIds(std::mt19937& rng, int32_t vars, int32_t d) {
  std::vector<int32_t> ids(static_cast<size_t>(vars));
  for (int32_t v = 0; v < vars; ++v) ids[static_cast<size_t>(v)] = v;
  std::shuffle(ids.begin(), ids.end(), rng);
  ids.resize(static_cast<size_t>(d));
  std::sort(ids.begin(), ids.end());
  return ids;
}

// One term of a hand-written function: its coefficient and ids, in order.
struct Term {
  int32_t coef;
  std::vector<int32_t> ids;
};

// The function with these terms, added in order, and this constant.
inline PBF FunctionOf(const std::vector<Term>& terms, int32_t constant = 0) {
  PBF f;
  f.constant = constant;
  for (const Term& t : terms) f.AddTerm(t.coef, static_cast<int32_t>(t.ids.size()), t.ids.data());
  return f;
}

}  // namespace pbf::testing
