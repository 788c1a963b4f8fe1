#include <gtest/gtest.h>

#include <random>

#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::Evaluate;
using testing::ExpectInvariants;

TEST(Shrink, KeepsRelativeOrderOfSurvivors) {
  PBF f;
  const int32_t coefs[6] = {3, 0, 0, 4, 0, 5};
  for (int32_t k = 0; k < 6; ++k) f.AddUnary(coefs[k], 10 + k);
  f.Shrink();
  EXPECT_EQ(f.terms.Table(1).coefs, (std::vector<int32_t>{3, 4, 5}));
  EXPECT_EQ(f.terms.Table(1).vars, (std::vector<int32_t>{10, 13, 15}));
  EXPECT_EQ(f.terms.occurrences[15], (std::vector<Occurrence>{{1, 2}}));
  ExpectInvariants(f);
}

TEST(Shrink, RebuildsListsInWalkOrder) {
  PBF f(100);
  f.AddUnary(1, 5);
  f.AddPairwise(1, 5, 6);
  f.AddPairwise(1, 4, 4);
  EXPECT_EQ(f.terms.occurrences[5], (std::vector<Occurrence>{{1, 0}, {2, 0}}));
  f.Shrink();
  EXPECT_EQ(f.terms.occurrences[5], (std::vector<Occurrence>{{2, 0}, {1, 0}}));
  EXPECT_EQ(f.terms.occurrences[4], (std::vector<Occurrence>{{2, 1}, {2, 1}}));
  EXPECT_EQ(f.terms.occurrences.size(), 7u);  // the presizing does not survive
}

TEST(Shrink, RandomFunctionsKeepValuesAndInvariants) {
  std::mt19937 rng(11);
  for (int rep = 0; rep < 50; ++rep) {
    PBF f = testing::RandomFunction(rng, 8, 40, 5, 2);  // small range: many cancellations
    PBF g = f;
    g.Shrink();
    ExpectInvariants(g);
    for (int32_t d = 1; d <= g.MaxDegree(); ++d) {
      if (!g.terms.HasTable(d)) continue;
      for (int32_t c : g.terms.Table(d).coefs) EXPECT_NE(c, 0);
    }
    for (uint64_t x = 0; x < 256; ++x) EXPECT_EQ(Evaluate(f, x), Evaluate(g, x));
  }
}

TEST(BuildOccurrences, ListsWhatRebuildingListsEachAtItsExactSize) {
  std::mt19937 rng(12);
  for (int rep = 0; rep < 50; ++rep) {
    PBF f = testing::RandomFunction(rng, 10, 30, 5, 3);
    f.AddPairwise(1, 4, 4);  // a variable named twice by one term
    PBF built;
    built.terms.tables = f.terms.tables;
    built.terms.BuildOccurrences();
    f.terms.RebuildOccurrences();
    EXPECT_EQ(built.terms.occurrences, f.terms.occurrences);
    for (const OccurrenceList& list : built.terms.occurrences)
      EXPECT_EQ(list.capacity(), list.size());
    ExpectInvariants(built);
  }
}

}  // namespace
}  // namespace pbf
