#include "local_function.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "literal_reduce.h"
#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

TEST(MinMax, MatchesEnumerationOfEveryAssignment) {
  std::mt19937 rng(5);
  for (int32_t count = 0; count <= 18; ++count) {
    for (int rep = 0; rep < 4; ++rep) {
      LocalFunction f;
      f.count = count;
      f.constant = static_cast<int32_t>(rng());
      const int32_t n = static_cast<int32_t>(rng() % 12);
      for (int32_t e = 0; e < n; ++e) {
        // Mostly within count bits; now and then beyond them, which adds nothing.
        const uint32_t mask =
            static_cast<uint32_t>(rng()) & (rng() % 8 ? (1u << count) - 1 : 0x7ffffu);
        const int32_t coef =
            rng() % 2 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 21) - 10;
        f.entries.push_back({mask, coef});
      }
      const LocalFunction::Extremes got = f.MinMax();
      const LocalFunction::Extremes want = literal::MinMax(f);
      EXPECT_EQ(got.largest, want.largest) << count;
      EXPECT_EQ(got.smallest, want.smallest) << count;
    }
  }
}

TEST(LocalFunction, ResolvesTakenTermsOnceEachByDegreeThenIndexWithCurrentCoefficients) {
  PBF f = testing::FunctionOf({{4, {7}}, {5, {8}}, {6, {7, 8}}, {9, {1, 7, 8}}});
  f.terms.Table(1).AddToCoef(1, 10);  // read at resolution, not when taken
  LocalFunction local;
  local.taken = {{3, 0}, {1, 1}, {2, 0}, {1, 1}, {3, 0}, {1, 0}};
  // Each term's mask here is its first id, enough to tell the terms apart.
  local.ResolveTakenTerms(
      f.terms, [](const int32_t* ids, int32_t) { return static_cast<uint32_t>(ids[0]); });
  std::vector<std::pair<uint32_t, int32_t>> entries;
  for (const LocalEntry& e : local.entries) entries.emplace_back(e.mask, e.coef);
  EXPECT_EQ(entries, (std::vector<std::pair<uint32_t, int32_t>>{{7, 4}, {8, 15}, {7, 6}, {1, 9}}));

  // Clearing keeps the storage, so the next term gathered costs no allocation.
  const size_t taken_room = local.taken.capacity();
  const size_t entries_room = local.entries.capacity();
  local.Clear();
  EXPECT_TRUE(local.taken.empty() && local.entries.empty());
  EXPECT_EQ(local.taken.capacity(), taken_room);
  EXPECT_EQ(local.entries.capacity(), entries_room);
}

}  // namespace
}  // namespace pbf
