#include "subterm_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "id_lists.h"
#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

// FindSubsets for every subset, and Find for each alone, answer what FindTerm answers, on the
// stored terms' own ids (whose subsets are often stored; told where they are stored half of the
// time) and on random ascending lists up to degree 9, ids beyond every stored one included.
void ExpectSameAsFindTerm(SubtermIndex& index, const PBF& f, std::mt19937& rng) {
  std::vector<std::pair<std::vector<int32_t>, int32_t>> terms;  // ids, where stored or -1
  for (int32_t d = 1; d <= 6; ++d) {
    for (int32_t t = 0; f.terms.HasTable(d) && t < f.terms.Table(d).Size(); ++t) {
      terms.emplace_back(std::vector<int32_t>(f.terms.Table(d).Ids(t), f.terms.Table(d).Ids(t) + d),
                         t % 2 == 0 ? t : -1);
    }
  }
  for (int n = 0; n < 40; ++n) {
    terms.emplace_back(testing::RandomAscendingIds(rng, 16, 1 + static_cast<int32_t>(rng() % 9)),
                       -1);
  }
  std::vector<int32_t> found(size_t{1} << 9);
  for (const auto& [ids, stored_at] : terms) {
    const auto d = static_cast<int32_t>(ids.size());
    index.FindSubsets({d, ids.data()}, found.data(), stored_at);
    for (uint32_t s = 1; s < (1u << d); ++s) {
      int32_t subset[9];
      const int32_t g = SubsetIds(ids.data(), d, s, subset);
      ASSERT_EQ(found[s], f.terms.FindTerm(g, subset)) << "subset " << s << " of degree " << d;
      ASSERT_EQ(index.Find(g, subset), found[s]);
    }
  }
}

// The index finds exactly what FindTerm finds while every stored term lists its ids strictly
// ascending, also for terms appended after it was built; the first term out of order (reversed,
// or with a repeated id) makes it inexact for good. Terms above degree 30 are not indexed and
// change nothing, nor does the number of terms the index is told to expect (none, fewer than
// are stored, far more).
TEST(SubtermIndex, FindsWhatFindTermFindsUntilATermIsOutOfOrder) {
  std::mt19937 rng(37);
  const std::vector<std::vector<int32_t>> out_of_order = {{5, 3}, {4, 4}, {1, 6, 2}, {2, 2, 9}};
  const size_t expected[] = {0, 10, size_t{1} << 20};
  for (int rep = 0; rep < 40; ++rep) {
    PBF f = testing::RandomFunction(rng, 12, 20 + 5 * rep, 6, 3);
    SubtermIndex index(f.terms, expected[rep % 3]);
    ASSERT_TRUE(index.Exact());
    ExpectSameAsFindTerm(index, f, rng);

    const PBF more = testing::RandomFunction(rng, 14, 30, 6, 3);
    for (int32_t d = 1; d <= 6; ++d) {
      for (int32_t t = 0; more.terms.HasTable(d) && t < more.terms.Table(d).Size(); ++t) {
        f.AddTerm(more.terms.Table(d).Coef(t), d, more.terms.Table(d).Ids(t));
      }
    }
    std::vector<int32_t> wide(31);
    for (int32_t k = 0; k < 31; ++k) wide[static_cast<size_t>(k)] = 40 - k;
    f.AddTerm(1, 31, wide.data());
    index.CatchUp();
    ASSERT_TRUE(index.Exact());
    ExpectSameAsFindTerm(index, f, rng);

    const std::vector<int32_t>& odd = out_of_order[static_cast<size_t>(rep) % out_of_order.size()];
    f.AddTerm(1, static_cast<int32_t>(odd.size()), odd.data());
    f.AddUnary(1, 13);
    index.CatchUp();
    EXPECT_FALSE(index.Exact());
    index.CatchUp();
    EXPECT_FALSE(index.Exact());
  }
}

// Crowds that share their first two ids overflow their bucket and its partner into the spill,
// which grows several times: every answer stays FindTerm's, for the crowd's terms, their
// subsets, and lists that begin like them but are absent.
TEST(SubtermIndex, CrowdsSharingTheirFirstTwoIdsSpillAndAreStillFound) {
  std::mt19937 rng(41);
  PBF f;
  SubtermIndex index(f.terms);
  for (int32_t round = 0; round < 3; ++round) {
    for (int32_t x = 0; x < 700; ++x) {
      const int32_t a = round;
      const int32_t b = 5 + round;
      const int32_t triple[] = {a, b, 20 + x};
      const int32_t quad[] = {a, b, 20 + x, 1000 + x % 97};
      f.AddTerm(1 + x % 5, 3, triple);
      if (x % 3 == 0) f.AddTerm(2, 4, quad);
      if (x % 7 == 0) f.AddUnary(1, 20 + x);
    }
    const int32_t pair[] = {round, 5 + round};
    f.AddTerm(3, 2, pair);
    index.CatchUp();
    ASSERT_TRUE(index.Exact());
    ExpectSameAsFindTerm(index, f, rng);
    std::vector<int32_t> found(16);
    for (int32_t x = 0; x < 800; x += 3) {
      const int32_t ids[] = {round, 5 + round, 20 + x, 1000 + x % 97};
      index.FindSubsets({4, ids}, found.data());
      for (uint32_t s = 1; s < 16; ++s) {
        int32_t subset[4];
        const int32_t g = SubsetIds(ids, 4, s, subset);
        ASSERT_EQ(found[s], f.terms.FindTerm(g, subset)) << "subset " << s << " at x " << x;
        ASSERT_EQ(index.Find(g, subset), found[s]);
      }
      index.Prefetch({4, ids});  // a hint only
    }
  }
}

// Comparing a subset's ids in place agrees with writing them out and comparing: for every subset
// of random lists, against the selection itself and against it with one id changed.
TEST(SubsetIds, ComparedInPlaceAsWrittenOut) {
  std::mt19937 rng(43);
  for (int rep = 0; rep < 200; ++rep) {
    const auto n = 1 + static_cast<int32_t>(rng() % 9);
    const std::vector<int32_t> ids = testing::RandomAscendingIds(rng, 30, n);
    for (uint32_t s = 1; s < (1u << n); ++s) {
      int32_t subset[9];
      const int32_t g = SubsetIds(ids.data(), n, s, subset);
      EXPECT_TRUE(SameSubsetIds(ids.data(), n, s, subset));
      subset[rng() % static_cast<uint32_t>(g)] += 1 + static_cast<int32_t>(rng() % 3);
      EXPECT_FALSE(SameSubsetIds(ids.data(), n, s, subset)) << "subset " << s;
    }
  }
}

}  // namespace
}  // namespace pbf
