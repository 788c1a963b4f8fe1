#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::Evaluate;
using testing::ExpectInvariants;

using Terms = std::vector<testing::Term>;

PBF Build(int32_t constant, const Terms& terms) { return testing::FunctionOf(terms, constant); }

bool HasHigherTerms(const PBF& f) {
  for (size_t d = 3; d < f.terms.tables.size(); ++d) {
    if (f.terms.tables[d] && f.terms.tables[d]->Size() > 0) return true;
  }
  return false;
}

// Reduces a copy of f, which must leave only degrees 1 and 2 in an intact store.
PBF Reduced(const PBF& f) {
  PBF g = f;
  g.ReduceHigherApprox();
  EXPECT_FALSE(HasHigherTerms(g));
  ExpectInvariants(g);
  return g;
}

using Entries = std::vector<std::pair<uint32_t, int32_t>>;

Entries EntriesOf(const LocalFunction& local) {
  Entries entries;
  for (const LocalEntry& e : local.entries) entries.emplace_back(e.mask, e.coef);
  return entries;
}

TEST(ReduceHigherApprox, RewritesCubicTermsInIndicatorOrder) {
  const std::vector<std::pair<PBF, const char*>> cases = {
      {Build(0, {{6, {0, 1, 2}}}),
       " -6x_{3} -6x_{2} -6x_{1} +6x_{2}x_{3} +6x_{1}x_{3} +6x_{1}x_{2} +6"},
      {Build(0, {{-6, {0, 1, 2}}}), " +6x_{3} -6x_{2}x_{3} -6x_{1}x_{3} +0"},
      // Candidates 101 and 110 tie at 10; the smaller mask wins.
      {Build(0, {{6, {0, 1, 2}}, {10, {0}}}), " +10x_{1} +6x_{1}x_{3} +0"},
      // Without higher terms, or with a zero one, only compaction happens.
      {Build(2, {{0, {0, 1, 2}}, {3, {0}}, {0, {1}}, {0, {0, 1}}, {4, {2, 1}}}),
       " +3x_{1} +4x_{3}x_{2} +2"},
  };
  for (const auto& [input, text] : cases) {
    PBF f = input;
    f.ReduceHigherApprox();
    EXPECT_EQ(f.GetString(), text) << input.GetString();
    EXPECT_EQ(f.MaxDegree(), 3);  // the emptied table stays
  }
}

TEST(ReduceHigherApprox, LeavesTermsWithoutCandidateAndAboveDegreeThirty) {
  // Every local value is the smallest int32, so no candidate is strictly better than the start.
  PBF f = Build(INT_MIN, {{5, {0, 1, 2}}});
  f.ReduceHigherApprox();
  EXPECT_EQ(f.GetString(), " +5x_{1}x_{2}x_{3} -2147483648");

  std::vector<int32_t> wide(31);
  for (int32_t k = 0; k < 31; ++k) wide[static_cast<size_t>(k)] = k;
  PBF g = Build(0, {{7, wide}, {6, {31, 32, 33}}});
  g.ReduceHigherApprox();
  EXPECT_EQ(g.terms.Table(31).coefs, std::vector<int32_t>{7});
  EXPECT_EQ(g.terms.Table(3).Size(), 0);
  EXPECT_LE(SharedParityTables()->built_degree, 30);
  ExpectInvariants(g);
}

// The cascade through every lower degree in one call is also met by the random terms of degree
// up to 8 below, which must end quadratic.
TEST(ReduceHigherApprox, LongTermsCascadeDownToPairs) {
  // Unary rewards steer every choice to all ones but the first variable, so each rewrite moves
  // the coefficient to the term one degree lower: 7 x0..x19 ends as 7 x18 x19, which is above it.
  Terms terms = {{7, {}}};
  for (int32_t k = 0; k < 20; ++k) {
    terms[0].ids.push_back(k);
    terms.push_back({100, {k}});
  }
  const PBF h = Reduced(Build(0, terms));
  EXPECT_EQ(h.terms.Table(1).coefs, std::vector<int32_t>(20, 100));
  EXPECT_EQ(h.terms.Table(2).vars, (std::vector<int32_t>{18, 19}));
  EXPECT_EQ(h.terms.Table(2).coefs, std::vector<int32_t>{7});
  EXPECT_EQ(h.constant, 0);
}

TEST(ReduceHigherApprox, RandomFunctionsBecomeQuadraticUpperBounds) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 30; ++round) {
    const int32_t vars = 10 + round % 3;
    PBF f = testing::RandomFunction(rng, vars, 14, 4, 4);
    // Up to degree 8: one term with ascending ids, two with ids in any order and repeats, for
    // which the gathering may miss terms inside T but T still cancels.
    std::uniform_int_distribution<int32_t> id(0, vars - 1), degree(3, 8), coef(-4, 4);
    for (int n = 0; n < 3; ++n) {
      std::vector<int32_t> ids(static_cast<size_t>(degree(rng)));
      for (int32_t& v : ids) v = id(rng);
      if (n == 0) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
      }
      f.AddTerm(coef(rng), static_cast<int32_t>(ids.size()), ids.data());
    }
    const PBF g = Reduced(f);
    for (uint64_t x = 0; x < (uint64_t{1} << vars); ++x) {
      ASSERT_GE(Evaluate(g, x), Evaluate(f, x)) << "at assignment " << x;
    }
    if (round % 3 > 0) continue;
    f.constant += 1000;  // shifts every local value alike, so every choice stays
    f.ReduceHigherApprox();
    f.constant -= 1000;
    EXPECT_EQ(f.GetString(), g.GetString());
  }
}

TEST(ReduceHigherApprox, SingleCubicTermRaisesOneConfigurationByItsMagnitude) {
  std::mt19937 rng(7);
  for (int round = 0; round < 100; ++round) {
    PBF f = testing::RandomFunction(rng, 8, 14, 2, 5);
    std::vector<int32_t> ids = {0, 1, 2, 3, 4, 5, 6, 7};
    std::shuffle(ids.begin(), ids.end(), rng);
    ids.resize(3);
    const int32_t a = std::uniform_int_distribution<int32_t>(-5, 5)(rng);
    f.AddTerm(a, 3, ids.data());
    const PBF g = Reduced(f);

    // Configuration of T's variables in T's order, first id the most significant bit.
    const auto config = [&](uint64_t x) {
      int32_t c = 0;
      for (int32_t id : ids) c = c << 1 | static_cast<int32_t>(x >> id & 1);
      return c;
    };
    int32_t raised = -1;
    for (uint64_t x = 0; x < 256; ++x) {
      const int32_t diff = Evaluate(g, x) - Evaluate(f, x);
      if (raised < 0 && diff != 0) raised = config(x);
      EXPECT_EQ(diff, config(x) == raised ? std::abs(a) : 0);
    }
    EXPECT_EQ(raised >= 0, a != 0);
  }
}

TEST(GatherSubterms, TakesTermsInsideOnceByDegreeThenIndex) {
  const PBF f = Build(3, {{2, {1, 3, 5, 7}},
                          {4, {3}},
                          {9, {2}},
                          {1, {1, 2}},
                          {5, {3, 7}},
                          {6, {5, 5}},
                          {8, {7, 3}},
                          {-1, {1, 5, 7}},
                          {1, {1, 3, 5, 7, 9}}});
  LocalFunction local;
  f.GatherSubterms(local, {4, f.terms.Table(4).Ids(0)});
  EXPECT_EQ(local.count, 4);
  EXPECT_EQ(std::vector<int32_t>(local.vars.begin(), local.vars.begin() + 4),
            (std::vector<int32_t>{1, 3, 5, 7}));
  EXPECT_EQ(local.constant, 3);
  // (7, 3) lies inside too but out of order, so the forward walk refuses it; (1, 2) and the
  // degree-5 term reach outside.
  EXPECT_EQ(EntriesOf(local),
            (Entries{{0b0100, 4}, {0b0101, 5}, {0b0010, 6}, {0b1011, -1}, {0b1111, 2}}));

  // With T's ids out of order the range checks and the walk refuse some terms inside T, even T.
  const std::vector<std::pair<std::vector<int32_t>, Entries>> unordered = {
      {{3, 1, 5}, {{0b100, 3}, {0b001, 5}}}, {{1, 5, 3}, {{0b100, 1}}}};
  for (const auto& [ids, expected] : unordered) {
    PBF g = Build(0, {{2, ids}});
    for (int32_t id : ids) g.AddUnary(id, id);
    g.AddPairwise(9, ids[1], ids[2]);
    LocalFunction other;
    g.GatherSubterms(other, {3, g.terms.Table(3).Ids(0)});
    EXPECT_EQ(EntriesOf(other), expected);
  }
}

// Dense functions make the reduction look sub-terms up in its index rather than scan the lists;
// a zero pair with descending ids makes the index inexact and forces the scan everywhere, without
// changing the function or any choice. Both must give the same text.
TEST(ReduceHigherApprox, IndexedAndScannedGatheringAgree) {
  std::mt19937 rng(29);
  for (int rep = 0; rep < 40; ++rep) {
    PBF indexed = testing::RandomFunction(rng, 8, 60 + 10 * rep, 6, rep % 2 ? 3 : 1000);
    PBF scanned = indexed;
    scanned.AddPairwise(0, 9, 8);
    indexed.ReduceHigherApprox();
    scanned.ReduceHigherApprox();
    ASSERT_EQ(indexed.GetString(), scanned.GetString()) << "rep " << rep;
  }
}

}  // namespace
}  // namespace pbf
