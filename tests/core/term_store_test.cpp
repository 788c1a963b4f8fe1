#include <gtest/gtest.h>

#include <climits>
#include <utility>

#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::ExpectInvariants;

TEST(TermStore, HigherDegreeCreatesOnlyItsSlot) {
  PBF f;
  const int32_t a[5] = {0, 1, 2, 3, 4};
  const int32_t b[5] = {1, 0, 2, 3, 4};
  f.AddTerm(1, 5, a);
  ASSERT_EQ(f.terms.tables.size(), 6u);
  EXPECT_FALSE(f.terms.tables[3]);
  EXPECT_FALSE(f.terms.tables[4]);
  f.AddTerm(1, 5, b);
  f.AddTerm(1, 5, a);
  EXPECT_EQ(f.terms.Table(5).coefs, (std::vector<int32_t>{2, 1}));
  f.AddTerm(9, 0, nullptr);
  EXPECT_EQ(f.constant, 9);
  ExpectInvariants(f);
}

TEST(TermStore, FindsTermThroughAnyVariableOfAHub) {
  // Variable 0 is in every term; lookups scan the shortest list but must find the same terms.
  PBF f;
  for (int32_t a = 1; a < 200; ++a) {
    const int32_t ids[3] = {0, a, a + 1};
    f.AddTerm(1, 3, ids);
  }
  for (int32_t a = 1; a < 200; ++a) {
    const int32_t ids[3] = {0, a, a + 1};
    f.AddTerm(1, 3, ids);
  }
  EXPECT_EQ(f.terms.Table(3).Size(), 199);
  for (int32_t c : f.terms.Table(3).coefs) EXPECT_EQ(c, 2);
  ExpectInvariants(f);
}

TEST(TermStore, FailedAllocationChangesNothing) {
  // An id near 2^31 needs an occurrence index of 2^31 lists, which cannot be allocated.
  PBF_SKIP_UNDER_ASAN();
  PBF f;
  f.AddPairwiseTerm(0, 1, 1, 2, 3, 4);
  const std::string before = f.GetString();
  const int32_t big[3] = {0, 1, INT32_MAX};
  EXPECT_THROW(f.AddUnary(1, INT32_MAX), std::bad_alloc);
  EXPECT_THROW(f.AddTerm(1, 3, big), std::bad_alloc);
  EXPECT_THROW(f.AddPairwiseTerm(1, INT32_MAX, 1, 2, 3, 4), std::bad_alloc);
  EXPECT_THROW(f.AddUnaryTerm(INT32_MAX, 5, 6), std::bad_alloc);
  const int32_t vals[8] = {1, 2, 3, 4, 5, 6, 7, 9};
  EXPECT_THROW(f.AddHigherTerm(3, big, vals), std::bad_alloc);
  EXPECT_EQ(f.GetString(), before);
  EXPECT_EQ(f.MaxDegree(), 2);  // no table was left behind
  ExpectInvariants(f);
}

// The fuzzer relies on the same check, so it must notice every kind of damage.
TEST(TermStore, InvariantCheckNamesEachKindOfDamage) {
  PBF good;
  const int32_t ids[3] = {0, 1, 2};
  good.AddTerm(1, 3, ids);
  good.AddPairwise(2, 4, 4);
  ASSERT_EQ(testing::InvariantViolation(good), "");
  const std::pair<const char*, void (*)(PBF&)> damages[] = {
      {"slot 0 holds a table", [](PBF& f) { f.terms.tables[0].emplace(); }},
      {"table 3: wrong degree", [](PBF& f) { f.terms.Table(3).degree = 4; }},
      {"table 3: ids do not match terms", [](PBF& f) { f.terms.Table(3).vars.pop_back(); }},
      {"table 2: terms 0 and 1 are equal",
       [](PBF& f) {
         f.terms.Table(2).vars.insert(f.terms.Table(2).vars.end(), {4, 4});
         f.terms.Table(2).coefs.push_back(1);
       }},
      {"occurrence index too short", [](PBF& f) { f.terms.occurrences.resize(3); }},
      {"occurrence list of variable 4", [](PBF& f) { f.terms.occurrences[4].pop_back(); }},
      {"occurrence list of variable 1",
       [](PBF& f) {
         f.terms.occurrences[1].push_back({3, 0});
       }},
      {"occurrence list of variable 0", [](PBF& f) { f.terms.occurrences[0][0].index = 1; }},
  };
  for (const auto& [message, damage] : damages) {
    PBF f = good;
    damage(f);
    EXPECT_EQ(testing::InvariantViolation(f), message);
  }
}

TEST(TermCursor, WalksDescendingDegreesAndSkipsEmptyTables) {
  PBF f;
  const int32_t c[3] = {0, 1, 2};
  f.AddUnary(1, 0);
  f.AddUnary(2, 1);
  f.AddTerm(3, 3, c);
  const int32_t e[5] = {0, 1, 2, 3, 4};
  f.AddTerm(4, 5, e);  // slot 4 absent, degree-2 table empty
  std::vector<std::pair<int32_t, int32_t>> seen;
  for (TermCursor at = TermCursor::Begin(f.terms); !at.AtEnd(); at.Advance()) {
    seen.emplace_back(at.degree, at.index);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{5, 0}, {3, 0}, {1, 0}, {1, 1}}));
  EXPECT_TRUE(TermCursor::Begin(PBF().terms).AtEnd());
}

}  // namespace
}  // namespace pbf
