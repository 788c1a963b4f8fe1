#include "free_part.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "brute_force.h"
#include "evaluate.h"
#include "improve.h"
#include "pbf.h"
#include "roof_dual_solver.h"

namespace pbf {
namespace {

using testing::RandomQuadratic;

// x over q's ids: the labelled ones at their labels, the free ones from y (local numbering).
std::vector<uint8_t> Merge(const std::vector<int8_t>& labels, const FreePart& part,
                           const std::vector<uint8_t>& y) {
  std::vector<uint8_t> x(labels.size() + 1);
  for (size_t v = 0; v < labels.size(); ++v) x[v] = labels[v] == 1;
  for (size_t k = 0; k < part.Size(); ++k) x[static_cast<size_t>(part.ids[k])] = y[k];
  return x;
}

// The free part built from q's tables.
FreePart TablesFreePart(const PBF& q, const std::vector<int8_t>& labels) {
  return BuildFreePart(labels, [&](auto unary, auto pair) {
    const TermTable& u = q.terms.Table(1);
    for (int32_t t = 0; t < u.Size(); ++t) {
      unary(static_cast<size_t>(u.Ids(t)[0]), u.coefs[static_cast<size_t>(t)]);
    }
    const TermTable& p = q.terms.Table(2);
    for (int32_t t = 0; t < p.Size(); ++t) {
      pair(static_cast<size_t>(p.Ids(t)[0]), static_cast<size_t>(p.Ids(t)[1]),
           p.coefs[static_cast<size_t>(t)]);
    }
  });
}

void ExpectSame(const FreePart& a, const FreePart& b, const std::string& what) {
  EXPECT_EQ(a.ids, b.ids) << what;
  EXPECT_EQ(a.unary, b.unary) << what;
  EXPECT_EQ(a.first, b.first) << what;
  EXPECT_EQ(a.neighbour, b.neighbour) << what;
  EXPECT_EQ(a.coef, b.coef) << what;
}

std::vector<uint32_t> All(const FreePart& part) {
  std::vector<uint32_t> all(part.Size());
  for (uint32_t k = 0; k < part.Size(); ++k) all[k] = k;
  return all;
}

// The free part is q with the labelled variables substituted, up to a constant, whatever the
// labels, and the solver's own is the same; a restriction is the part with the non-members
// substituted, up to a constant; and the improvement moves never raise the part's value.
TEST(FreePart, RepresentsTheRestrictedFunctionAndItsMovesNeverRaiseIt) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t n = 2 + trial % 12;
    const PBF q = RandomQuadratic(rng, n, 2 + trial % (4 * n), trial % 2 ? 20 : INT32_MAX, false);
    // The solver reads the part back from its network; it is the part of q's own terms, and a
    // multilinear form is unique once pairs are merged.
    FreePart from_network;
    PBF consumed = q;
    std::vector<int8_t> labels = RoofDualityConsuming(std::move(consumed), &from_network).labels;
    EXPECT_EQ(consumed.MaxId(), -1);
    ExpectSame(from_network, TablesFreePart(q, labels), q.GetString());
    if (trial % 3 == 0) {  // any labels, not only persistent ones
      for (int8_t& l : labels) l = static_cast<int8_t>(static_cast<int>(rng() % 3) - 1);
    }
    const FreePart part = TablesFreePart(q, labels);
    for (uint32_t k = 0; k < part.Size(); ++k) {
      for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
        ASSERT_NE(part.neighbour[e], k);
        ASSERT_NE(part.coef[e], 0);
      }
    }
    const std::vector<uint8_t> zero(part.Size(), 0);
    const int64_t offset = Evaluate(q, Merge(labels, part, zero).data());
    std::vector<uint8_t> y(part.Size());
    for (int sample = 0; sample < 8; ++sample) {
      for (uint8_t& b : y) b = rng() & 1;
      ASSERT_EQ(Evaluate(q, Merge(labels, part, y).data()) - offset,
                ScopeEnergy(part, All(part), y))
          << q.GetString();

      // Members: a random subset; the restriction plus the non-members' own value is the part.
      std::vector<uint32_t> members;
      for (uint32_t k = 0; k < part.Size(); ++k) {
        if (rng() & 1) members.push_back(k);
      }
      std::vector<int32_t> position(part.Size(), -1);
      const Restriction r = Restrict(part, members, y, position);
      std::vector<uint8_t> outside = y;
      for (const uint32_t k : members) outside[k] = 0;
      int64_t restricted = ScopeEnergy(part, All(part), outside);
      for (size_t p = 0; p < members.size(); ++p) {
        if (y[members[p]]) restricted += r.unary[p];
      }
      for (size_t t = 0; t < r.pair_coefs.size(); ++t) {
        const auto i = static_cast<size_t>(r.pair_ids[2 * t]),
                   j = static_cast<size_t>(r.pair_ids[2 * t + 1]);
        if (y[members[i]] && y[members[j]]) restricted += r.pair_coefs[t];
      }
      ASSERT_EQ(restricted, ScopeEnergy(part, All(part), y)) << q.GetString();

      const std::vector<int8_t> held(part.Size(), -1);
      std::vector<uint8_t> improved = y;
      ImproveFreePart(part, held, improved);
      EXPECT_LE(ScopeEnergy(part, All(part), improved), ScopeEnergy(part, All(part), y))
          << q.GetString();
    }
  }
}

}  // namespace
}  // namespace pbf
