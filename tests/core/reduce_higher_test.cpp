#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <random>

#include "literal_reduce.h"
#include "local_function.h"
#include "pbf.h"
#include "test_util.h"
#include "workloads.h"

namespace pbf {
namespace {

using testing::Evaluate;
using testing::ExpectInvariants;

using testing::Term;
using testing::FunctionOf;

std::string Reduced(PBF f) {
  f.ReduceHigher();
  ExpectInvariants(f);
  return f.GetString();
}

int32_t HighestDegree(const PBF& f) { return f.terms.NextNonEmptyDegree(INT_MAX); }

// The minimum over all 2^n assignments and every assignment that attains it, with values in int32
// (wrapping, as the core computes them) or in int64 (the function as an integer polynomial).
// Values come from the terms' products placed at their masks and summed over submasks, which
// keeps dense functions cheap to check.
template <typename Value = int32_t>
std::pair<Value, std::vector<uint64_t>> Minimisers(const PBF& f, int32_t n) {
  const auto add = [](Value a, Value b) {
    if constexpr (sizeof(Value) == 4) return WrapAdd(a, b);
    return a + b;
  };
  std::vector<Value> values(size_t{1} << n, 0);
  values[0] = f.constant;
  for (const auto& table : f.terms.tables) {
    for (int32_t t = 0; table && t < table->Size(); ++t) {
      uint32_t mask = 0;
      for (int32_t k = 0; k < table->degree; ++k) mask |= 1u << table->Ids(t)[k];
      values[mask] = add(values[mask], table->coefs[static_cast<size_t>(t)]);
    }
  }
  for (size_t bit = 1; bit < values.size(); bit <<= 1) {
    for (size_t x = 0; x < values.size(); ++x) {
      if (x & bit) values[x] = add(values[x], values[x ^ bit]);
    }
  }
  const Value least = *std::min_element(values.begin(), values.end());
  std::vector<uint64_t> where;
  for (size_t x = 0; x < values.size(); ++x) {
    if (values[x] == least) where.push_back(x);
  }
  return {least, where};
}

// The first test, a tie and compaction by hand; the comparison with the literal search on random
// functions and the workloads carries the rest (the second test, neighbours, cascades), and fails
// when any of them is broken.
TEST(ReduceHigher, WorkedExamples) {
  // Nothing of degree 3 or more: only the zero term goes.
  EXPECT_EQ(Reduced(FunctionOf({{0, {1}}, {4, {0, 1}}})), " +4x_{1}x_{2} +0");
  // Configuration 001 is excluded by the first test, which passes at 111.
  EXPECT_EQ(Reduced(FunctionOf({{-5, {0, 1, 2}}})), " +5x_{3} -5x_{2}x_{3} -5x_{1}x_{3} +0");
  // A tie does not pass the second test.
  EXPECT_EQ(Reduced(FunctionOf({{5, {0, 1, 2}}})), " +5x_{1}x_{2}x_{3} +0");
  // A zero term is searched, changed by nothing, and compacted away.
  PBF zero = FunctionOf({{0, {0, 1, 2}}, {-1, {1, 2}}});
  zero.ReduceHigher();
  EXPECT_EQ(zero.GetString(), " -1x_{2}x_{3} +0");
  EXPECT_TRUE(zero.terms.HasTable(3));
}

// The entries of a LocalFunction as the ids their masks name (ascending) and their coefficients,
// sorted: what it holds, whatever the order of entries and bits.
std::vector<std::pair<std::vector<int32_t>, int32_t>> EntriesByIds(const LocalFunction& local) {
  std::vector<std::pair<std::vector<int32_t>, int32_t>> entries;
  for (const LocalEntry& e : local.entries) {
    std::vector<int32_t> ids;
    for (int32_t k = 0; k < local.count; ++k) {
      if ((e.mask >> (local.count - 1 - k)) & 1) ids.push_back(local.vars[static_cast<size_t>(k)]);
    }
    std::sort(ids.begin(), ids.end());
    entries.emplace_back(ids, e.coef);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Gathers T's neighbourhood both ways, each into its own LocalFunction, and expects the same
// answer and, when admitted, the same local variables and entries up to their order.
bool ExpectSameGathering(const PBF& f, TermRef term, LocalFunction& got) {
  LocalFunction want;
  const bool admitted = f.BuildNeighbourhood(got, term);
  EXPECT_EQ(admitted, literal::BuildNeighbourhood(f, want, term)) << f.GetString();
  if (!admitted) return false;
  EXPECT_EQ(got.count, want.count);
  std::vector<int32_t> got_vars(got.vars.begin(), got.vars.begin() + got.count);
  std::sort(got_vars.begin(), got_vars.end());
  EXPECT_EQ(got_vars, std::vector<int32_t>(want.vars.begin(), want.vars.begin() + want.count));
  EXPECT_EQ(EntriesByIds(got), EntriesByIds(want)) << f.GetString();
  EXPECT_EQ(got.constant, want.constant);
  return true;
}

// The gathering against the literal one (sorted occurrences, ascending local variables): the
// same local variables and entries up to their order, on random neighbourhoods with zero
// coefficients and repeated ids (the literal masks need ascending ids), on both sides of the
// admission bound. One LocalFunction serves every term of every function, as in the reduction,
// so that what a gathering (admitted or refused) leaves in its index would show in the next.
TEST(BuildNeighbourhood, HoldsWhatTheLiteralGatheringHolds) {
  std::mt19937 rng(43);
  int refused = 0;
  LocalFunction got;
  for (int rep = 0; rep < 400; ++rep) {
    const int32_t vars = 6 + rep % 20;
    PBF f = testing::RandomFunction(rng, vars, 5 + rep % 40, 4, rep % 3 ? 4 : 1);
    for (int n = 0; n < rep % 6; ++n) {
      std::vector<int32_t> ids(1 + rng() % 4);
      for (int32_t& id : ids) id = static_cast<int32_t>(rng() % static_cast<uint32_t>(vars));
      std::sort(ids.begin(), ids.end());
      f.AddTerm(static_cast<int32_t>(rng() % 5) - 2, static_cast<int32_t>(ids.size()), ids.data());
    }
    for (int32_t d = 3; d <= 4; ++d) {
      for (int32_t t = 0; f.terms.HasTable(d) && t < f.terms.Table(d).Size(); ++t) {
        const TermRef term{d, f.terms.Table(d).Ids(t)};
        if (!StrictlyAscending(term.ids, d)) continue;
        refused += ExpectSameGathering(f, term, got) ? 0 : 1;
      }
    }
  }
  EXPECT_GT(refused, 20);
}

// A list longer than 128 entries has its head scanned for ids first. Here x0's list holds about
// 160 terms over x0 ... x9 and `far` terms that each bring two other variables, shuffled so that
// those fall in the head, in the tail or in both; some entries are zero. The term is admitted up
// to 4 far terms (19 variables) and refused from 5 on, whichever list part brings them.
TEST(BuildNeighbourhood, LongListsHoldWhatTheLiteralGatheringHolds) {
  std::mt19937 rng(7);
  for (int32_t far = 0; far <= 12; ++far) {
    for (int rep = 0; rep < 6; ++rep) {
      std::vector<Term> terms;
      for (uint32_t subset = 1; subset < (1u << 9); ++subset) {
        if (std::popcount(subset) > 3) continue;
        std::vector<int32_t> ids{0};
        for (int32_t k = 1; k <= 9; ++k) {
          if ((subset >> (k - 1)) & 1) ids.push_back(k);
        }
        terms.push_back({static_cast<int32_t>(rng() % 7) - 3, ids});
      }
      for (int32_t k = 0; k < far; ++k) terms.push_back({1 + k, {0, 20 + 2 * k, 21 + 2 * k}});
      std::shuffle(terms.begin(), terms.end(), rng);
      terms.insert(terms.begin() + static_cast<long>(rng() % terms.size()), {-5, {0, 1, 2}});
      const PBF f = FunctionOf(terms);
      const int32_t t = f.terms.FindTerm(3, std::vector<int32_t>{0, 1, 2}.data());
      ASSERT_GT(f.terms.OccurrencesOf(0).size(), 128u);
      const TermRef term{3, f.terms.Table(3).Ids(t)};
      LocalFunction got;
      const bool admitted = ExpectSameGathering(f, term, got);
      ASSERT_EQ(admitted, far <= 4) << far;
      if (!admitted) continue;
      // T's ids keep the configuration's layout however early the head scan met the others.
      EXPECT_EQ(
          std::vector<int32_t>(got.vars.begin() + got.count - 3, got.vars.begin() + got.count),
          (std::vector<int32_t>{0, 1, 2}));
    }
  }
}

TEST(ReduceHigher, LeavesTermsItCannotSearchUnchanged) {
  std::vector<int32_t> wide(17);
  for (int32_t k = 0; k < 17; ++k) wide[static_cast<size_t>(k)] = k;
  // Each would lose its term by the rule if its ids were ascending and its degree at most 16.
  for (const std::vector<int32_t>& ids :
       {std::vector<int32_t>{2, 1, 0}, {0, 0, 1}, {0, 2, 1, 3}, wide}) {
    PBF f = FunctionOf({{-5, ids}, {-3, {0, 1}}});
    const std::string before = f.GetString();
    EXPECT_EQ(Reduced(f), before);
  }
  // 33 local variables pass the d + 16 test for degree 17 but not the capacity of 32.
  std::vector<Term> terms{{-5, wide}};
  for (int32_t k = 0; k < 16; ++k) terms.push_back({1, {k, 17 + k}});
  PBF f = FunctionOf(terms);
  LocalFunction local;
  EXPECT_FALSE(f.BuildNeighbourhood(local, {17, f.terms.Table(17).Ids(0)}));
}

TEST(ReduceHigher, CountsNeighboursInAnyIdOrderByTheirValue) {
  // (3, 2) and (2, 2) are the products x2 x3 and x2: the result has the same values as with the
  // ascending forms.
  const std::vector<std::pair<Term, Term>> pairs{
      {{3, {3, 2}}, {3, {2, 3}}}, {{4, {2, 2}}, {4, {2}}}, {{-9, {4, 2, 2}}, {-9, {2, 4}}}};
  for (const auto& [odd, plain] : pairs) {
    PBF f = FunctionOf({{-5, {0, 1, 2}}, odd});
    PBF g = FunctionOf({{-5, {0, 1, 2}}, plain});
    f.ReduceHigher();
    g.ReduceHigher();
    ExpectInvariants(f);
    EXPECT_EQ(f.terms.FindTerm(3, std::vector<int32_t>{0, 1, 2}.data()), -1);
    for (uint64_t x = 0; x < 32; ++x) EXPECT_EQ(Evaluate(f, x), Evaluate(g, x));
  }
}

// Random terms whose ids may come in any order and repeat, for the cases the precondition leaves
// open.
PBF RandomUnsortedFunction(std::mt19937& rng, int32_t vars, int32_t count) {
  PBF f;
  for (int32_t n = 0; n < count; ++n) {
    std::vector<int32_t> ids(1 + rng() % 5);
    for (int32_t& id : ids) id = static_cast<int32_t>(rng() % static_cast<uint32_t>(vars));
    if (rng() % 2) std::sort(ids.begin(), ids.end());
    f.AddTerm(static_cast<int32_t>(rng() % 41) - 20, static_cast<int32_t>(ids.size()), ids.data());
  }
  return f;
}

TEST(ReduceHigher, KeepsMinimumAndEveryMinimiser) {
  std::mt19937 rng(17);
  for (int rep = 0; rep < 200; ++rep) {
    const int32_t vars = 4 + rep % 9;
    const int32_t range = rep % 3 == 0 ? 1 << 20 : 6;  // small: ties and cancellations
    const PBF f = rep % 4 == 3 ? RandomUnsortedFunction(rng, vars, 12)
                               : testing::RandomFunction(rng, vars, 3 + rep % 25, 6, range);
    PBF g = f;
    g.ReduceHigher();
    ExpectInvariants(g);
    EXPECT_EQ(Minimisers(g, vars), Minimisers(f, vars)) << f.GetString();
    // No degree grows: the top degree holds only terms that were there before.
    const int32_t top = HighestDegree(f);
    ASSERT_LE(HighestDegree(g), top);
    if (HighestDegree(g) == top && top >= 3) {
      for (int32_t t = 0; t < g.terms.Table(top).Size(); ++t) {
        EXPECT_GE(f.terms.FindTerm(top, g.terms.Table(top).Ids(t)), 0);
      }
    }
  }
}

TEST(ReduceHigher, MatchesLiteralReduction) {
  std::mt19937 rng(29);
  for (int rep = 0; rep < 120; ++rep) {
    PBF f;
    if (rep % 2 == 0) {
      f = testing::RandomFunction(rng, 6 + rep % 7, 4 + rep % 20, 6, rep % 3 == 0 ? 1 << 20 : 5);
    } else {
      // Many neighbours around a few higher terms, and a star around x0 that puts the terms on it
      // near the admission bound: the bound and the early stop matter.
      f = testing::RandomFunction(rng, 24, 6, 5, 8);
      PBF pairs = testing::RandomFunction(rng, 24, 40 + rep % 30, 2, 8);
      for (int32_t d = 1; d <= 2; ++d) {
        const TermTable& table = pairs.terms.Table(d);
        for (int32_t t = 0; t < table.Size(); ++t)
          f.AddTerm(table.coefs[static_cast<size_t>(t)], d, table.Ids(t));
      }
      for (int32_t k = 1; k < 12 + rep % 12; ++k)
        f.AddPairwise(-1 - static_cast<int32_t>(rng() % 3), 0, k);
    }
    PBF g = f;
    f.ReduceHigher();
    literal::ReduceHigher(g);
    ASSERT_EQ(f.GetString(), g.GetString()) << rep;
  }
}

// Where no neighbourhood's sums come near 2^31, the safe pass is the plain one: the benchmark
// workloads' small instances and random functions, a second pass included.
TEST(ReduceHigherSafely, IsReduceHigherWhereNoSumComesNearTheLimit) {
  std::mt19937 rng(67);
  std::vector<PBF> functions = {bench::Build(bench::Grid(9)), bench::Build(bench::Pubo(16, 60)),
                                bench::Build(bench::Hub(30)), bench::Build(bench::Clique(6))};
  for (int rep = 0; rep < 60; ++rep) {
    functions.push_back(
        testing::RandomFunction(rng, 6 + rep % 9, 5 + rep % 30, 6, rep % 2 ? 5 : 1 << 20));
  }
  for (const PBF& f : functions) {
    PBF plain = f;
    PBF safe = f;
    for (int pass = 0; pass < 2; ++pass) {
      plain.ReduceHigher();
      safe.ReduceHigherSafely();
      ASSERT_EQ(safe.GetString(), plain.GetString()) << f.GetString();
    }
  }
}

// Near the limit the safe pass keeps the minimum and every minimiser of the function read as an
// integer polynomial, exactly, while the plain pass, whose sums wrap, does not always.
TEST(ReduceHigherSafely, KeepsTheIntegerMinimisersWhereSumsWouldWrap) {
  std::mt19937 rng(71);
  int plain_lost = 0;
  int safe_reduced = 0;
  for (int rep = 0; rep < 400; ++rep) {
    const int32_t vars = 4 + rep % 9;
    const int32_t range =
        std::vector<int32_t>{1 << 26, 1 << 28, 1 << 29, 1 << 30, INT_MAX}[rep % 5];
    PBF f = testing::RandomFunction(rng, vars, 4 + rep % 14, 6, range);
    if (rep % 7 == 0) f.AddTerm(INT_MIN, 3, std::vector<int32_t>{0, 1, 2}.data());
    PBF safe = f;
    safe.ReduceHigherSafely();
    ExpectInvariants(safe);
    ASSERT_EQ(Minimisers<int64_t>(safe, vars), Minimisers<int64_t>(f, vars)) << f.GetString();
    safe_reduced += HighestDegree(safe) < HighestDegree(f) ? 1 : 0;
    // The plain pass may lose minimisers here, but its store stays sound and no degree grows.
    PBF plain = f;
    plain.ReduceHigher();
    ExpectInvariants(plain);
    EXPECT_LE(HighestDegree(plain), HighestDegree(f));
    plain_lost += Minimisers<int64_t>(plain, vars) != Minimisers<int64_t>(f, vars) ? 1 : 0;
  }
  // The test tells the two passes apart, and the safe one still reduces.
  EXPECT_GT(plain_lost, 20);
  EXPECT_GT(safe_reduced, 20);
}

}  // namespace
}  // namespace pbf
