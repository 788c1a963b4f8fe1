// The bulk edits against the loops of single edits they stand for: the whole store must come out
// identical (tables, term order, coefficients, occurrence lists in order, constant), also when an
// allocation fails at any point, where the function must stay exactly as it was.
#include "bulk_edit.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "evaluate.h"
#include "pbf.h"
#include "test_util.h"

// Allocation failure on demand: while `allocations_left` is >= 0, it counts down the allocations
// that may still succeed, and the next one throws std::bad_alloc; then `allocations_left` becomes
// `allocations_after_failure` (by default 0: every later allocation fails too; -1: none does).
// Replaces the global operator new of this test program; every other test leaves it disarmed.
namespace {
long allocations_left = -1;
long allocations_after_failure = 0;

bool NextAllocationFails() {
  if (allocations_left == 0) {
    allocations_left = allocations_after_failure;
    return true;
  }
  if (allocations_left > 0) --allocations_left;
  return false;
}
}  // namespace

void* operator new(std::size_t size) {
  if (NextAllocationFails()) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The nothrow form too (std::stable_sort's buffer comes from it and goes back through the sized
// delete below): a sanitizer's own version would tag the block as new'd, not malloc'd.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (NextAllocationFails()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}
// GCC pairs the free() below with the new-expressions that it inlines this into, not with the
// replacement operator new above that really allocated the block.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace pbf {
namespace {

using testing::ExpectInvariants;

void ExpectSameStore(const PBF& a, const PBF& b) {
  EXPECT_EQ(a.constant, b.constant);
  ASSERT_EQ(a.terms.tables.size(), b.terms.tables.size());
  for (size_t d = 0; d < a.terms.tables.size(); ++d) {
    ASSERT_EQ(a.terms.tables[d].has_value(), b.terms.tables[d].has_value()) << "slot " << d;
    if (!a.terms.tables[d]) continue;
    EXPECT_EQ(a.terms.tables[d]->vars, b.terms.tables[d]->vars) << "degree " << d;
    EXPECT_EQ(a.terms.tables[d]->coefs, b.terms.tables[d]->coefs) << "degree " << d;
  }
  EXPECT_EQ(a.terms.occurrences, b.terms.occurrences);
}

// Small ids so that rows meet each other and the function's terms, sometimes a larger one that
// grows the occurrence index; amounts that are often 0 or at the int32 limits.
struct Draw {
  std::mt19937 rng;
  explicit Draw(uint32_t seed) : rng(seed) {}
  int32_t Id() {
    return std::uniform_int_distribution<int32_t>(0, 19)(rng) == 0
               ? std::uniform_int_distribution<int32_t>(8, 60)(rng)
               : std::uniform_int_distribution<int32_t>(0, 7)(rng);
  }
  int32_t Amount() {
    switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
      case 0:
        return 0;
      case 1:
        return INT32_MAX;
      case 2:
        return INT32_MIN;
      default:
        return std::uniform_int_distribution<int32_t>(-3, 3)(rng);
    }
  }
  std::vector<int32_t> Ids(size_t count) {
    std::vector<int32_t> v(count);
    for (auto& x : v) x = Id();
    return v;
  }
  std::vector<int32_t> Amounts(size_t count) {
    std::vector<int32_t> v(count);
    for (auto& x : v) x = Amount();
    return v;
  }
  size_t Rows() { return std::uniform_int_distribution<size_t>(0, 12)(rng); }
};

// A function with terms of degree 1 to 4 (repeated and unordered ids) and a clique or two.
PBF Existing(Draw& draw) {
  PBF f;
  const int terms = std::uniform_int_distribution<int>(0, 10)(draw.rng);
  for (int n = 0; n < terms; ++n) {
    const int32_t d = std::uniform_int_distribution<int32_t>(1, 4)(draw.rng);
    f.AddTerm(draw.Amount(), d, draw.Ids(static_cast<size_t>(d)).data());
  }
  if (draw.rng() % 2) {
    const auto ids = draw.Ids(3);
    f.AddHigherTerm(3, ids.data(), draw.Amounts(8).data());
  }
  return f;
}

// Runs `bulk` on copies of f, failing the 0th, 1st, ... allocation, until it succeeds: every
// failure must leave the copy as f was, and the success must equal `expected`.
void ExpectFailuresChangeNothing(const PBF& f, const PBF& expected,
                                 const std::function<void(PBF&)>& bulk) {
  for (long fail_at = 0;; ++fail_at) {
    PBF g = f;
    allocations_left = fail_at;
    bool failed = false;
    try {
      bulk(g);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    allocations_left = -1;
    if (!failed) {
      ExpectSameStore(g, expected);
      return;
    }
    ExpectSameStore(g, f);
    ASSERT_LT(fail_at, 1000);
  }
}

// One random batch of each kind on one random function, against its loop; with `inject`, also
// with every allocation failure.
void CheckRandomBatches(uint32_t seed, bool inject) {
  Draw draw(seed);
  const PBF f = Existing(draw);
  const size_t rows = draw.Rows();
  std::vector<std::function<void(PBF&)>> bulk, loop;

  const auto ids = draw.Ids(rows), e0 = draw.Amounts(rows), e1 = draw.Amounts(rows);
  bulk.push_back([&](PBF& g) { AddUnaryTerms(g, rows, ids.data(), e0.data(), e1.data()); });
  loop.push_back([&](PBF& g) {
    for (size_t r = 0; r < rows; ++r) g.AddUnaryTerm(ids[r], e0[r], e1[r]);
  });

  const auto i = draw.Ids(rows), j = draw.Ids(rows);
  const auto e00 = draw.Amounts(rows), e01 = draw.Amounts(rows), e10 = draw.Amounts(rows),
             e11 = draw.Amounts(rows);
  bulk.push_back([&](PBF& g) {
    AddPairwiseTerms(g, rows, i.data(), j.data(), e00.data(), e01.data(), e10.data(), e11.data());
  });
  loop.push_back([&](PBF& g) {
    for (size_t r = 0; r < rows; ++r) g.AddPairwiseTerm(i[r], j[r], e00[r], e01[r], e10[r], e11[r]);
  });

  const auto k = std::uniform_int_distribution<int32_t>(0, 5)(draw.rng);
  const size_t size = size_t{1} << k;
  const bool shared = draw.rng() % 4 == 0;
  const auto vars = draw.Ids(rows * static_cast<size_t>(k));
  // Tables with many zeros, so that some subsets (and ids) get no term.
  auto vals = draw.Amounts(shared ? size : rows * size);
  for (auto& v : vals) v = draw.rng() % 3 ? v : 0;
  bulk.push_back([&](PBF& g) { AddHigherTerms(g, rows, k, vars.data(), vals.data(), shared); });
  loop.push_back([&](PBF& g) {
    for (size_t r = 0; r < rows; ++r) {
      g.AddHigherTerm(k, vars.data() + r * static_cast<size_t>(k),
                      vals.data() + (shared ? 0 : r * size));
    }
  });

  const auto d = std::uniform_int_distribution<int32_t>(1, 4)(draw.rng);
  const auto term_ids = draw.Ids(rows * static_cast<size_t>(d)), coefs = draw.Amounts(rows);
  bulk.push_back([&](PBF& g) { AddTerms(g, rows, d, term_ids.data(), coefs.data()); });
  loop.push_back([&](PBF& g) {
    for (size_t r = 0; r < rows; ++r) {
      g.AddTerm(coefs[r], d, term_ids.data() + r * static_cast<size_t>(d));
    }
  });

  for (size_t b = 0; b < bulk.size(); ++b) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", batch kind " + std::to_string(b));
    PBF expected = f, got = f;
    loop[b](expected);
    bulk[b](got);
    ExpectSameStore(got, expected);
    ExpectInvariants(got);
    if (inject) ExpectFailuresChangeNothing(f, expected, bulk[b]);
  }
}

TEST(BulkEdit, EqualsTheLoopOfSingleEdits) {
  for (uint32_t seed = 0; seed < 3000; ++seed) CheckRandomBatches(seed, false);
}

TEST(BulkEdit, FailedAllocationAnywhereChangesNothing) {
  for (uint32_t seed = 0; seed < 200; ++seed) CheckRandomBatches(seed, true);
}

// What the random batches cannot reach: degrees above 4, null arrays, ids near 2^31. Zero terms,
// repeated ids, empty batches and cliques of no variable they do meet, against the loops.
TEST(BulkEdit, EdgeCases) {
  PBF f;
  const int32_t same[2] = {4, 4}, zero[2] = {0, 0};
  AddPairwiseTerms(f, 1, same, same + 1, zero, zero, zero, zero);
  AddUnaryTerms(f, 0, nullptr, nullptr, nullptr);
  AddTerms(f, 0, 7, nullptr, nullptr);
  EXPECT_EQ(f.MaxDegree(), 2);  // no rows: no table

  // A term of degree 5 with coefficient 0 creates its table, as AddTerm does.
  const int32_t five[5] = {0, 1, 2, 3, 4}, nothing[1] = {0};
  AddTerms(f, 1, 5, five, nothing);
  EXPECT_EQ(f.MaxDegree(), 5);

  // An id near 2^31 whose subsets all vanish gets no term, and no memory is sized for it.
  const int32_t big[2] = {1, INT32_MAX}, first_only[4] = {0, 0, 3, 3};
  AddHigherTerms(f, 1, 2, big, first_only, false);
  EXPECT_EQ(f.MaxId(), 4);
}

TEST(BulkEdit, TermBlocksRebuildAFunctionWithListsInWalkOrder) {
  Draw draw(5);
  PBF f = Existing(draw);
  const int32_t ids[4] = {0, 1, 2, 3};
  f.AddTerm(0, 4, ids);
  std::vector<TermBlock> blocks;
  for (size_t d = 1; d < f.terms.tables.size(); ++d) {
    if (!f.terms.tables[d]) continue;
    const TermTable& t = *f.terms.tables[d];
    blocks.push_back({t.degree, t.coefs.size(), t.vars.data(), t.coefs.data()});
  }
  PBF g;
  g.constant = f.constant;
  AddTermBlocks(g, blocks);
  f.terms.RebuildOccurrences();  // walk order
  ExpectSameStore(g, f);
}

// Not a bulk edit, but the allocation failures are here. The reduction stops listing the terms it
// appends once its index serves every term (here from the second term on). When one allocation
// fails, the rewrites made so far stay and their terms are listed after all; when later
// allocations fail too, so that even that listing cannot be done (from its start, or part-way),
// it goes back to the store it had when listing stopped. Either way the store stays intact and
// still an upper bound (every rewrite kept was applied whole), and given enough memory the result
// is the one without failures.
TEST(ReduceHigherApprox, FailedAllocationAnywhereLeavesAnIntactStore) {
  PBF f;
  for (int32_t a = 1; a <= 300; ++a) {
    const int32_t cubic[] = {0, a, a + 300};
    const int32_t quartic[] = {0, a, a + 300, a + 600};
    f.AddTerm(a % 7 - 3, 3, cubic);
    if (a % 2 == 0) f.AddTerm(a % 5 + 1, 4, quartic);
  }
  PBF expected = f;
  expected.ReduceHigherApprox();
  std::mt19937 random(7);
  std::vector<std::vector<uint8_t>> labellings(64, std::vector<uint8_t>(f.MaxId() + 1));
  for (auto& x : labellings) {
    for (uint8_t& bit : x) bit = random() & 1;
  }
  bool finished = false;
  bool kept_later_rewrites = false;
  for (long fail_at = 0; !finished; fail_at += 7) {
    std::string every_later_fails, none_does;
    for (const long after : {0, 2, -1}) {
      PBF g = f;
      allocations_left = fail_at;
      allocations_after_failure = after;
      try {
        g.ReduceHigherApprox();
        finished = true;
      } catch (const std::bad_alloc&) {
      }
      allocations_left = -1;
      allocations_after_failure = 0;
      const std::string trace = "failing at allocation " + std::to_string(fail_at) + ", then " +
                                std::to_string(after) + " more";
      ASSERT_EQ(testing::InvariantViolation(g), "") << trace;
      for (const auto& x : labellings) {
        ASSERT_GE(Evaluate(g, x.data()), Evaluate(f, x.data())) << trace;
      }
      if (finished) ExpectSameStore(g, expected);
      if (after == 0) every_later_fails = g.GetString();
      if (after == -1) none_does = g.GetString();
    }
    kept_later_rewrites |= none_does != every_later_fails;
    ASSERT_LT(fail_at, 1000000);
  }
  EXPECT_TRUE(kept_later_rewrites);
}

}  // namespace
}  // namespace pbf
