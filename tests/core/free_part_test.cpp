#include "free_part.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "brute_force.h"
#include "evaluate.h"
#include "improve.h"
#include "pbf.h"
#include "roof_duality.h"

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

std::vector<uint32_t> All(const FreePart& part) {
  std::vector<uint32_t> all(part.Size());
  for (uint32_t k = 0; k < part.Size(); ++k) all[k] = k;
  return all;
}

// The free part is q with the labelled variables substituted, up to a constant, whatever the
// labels; a restriction is the part with the non-members substituted, up to a constant; and the
// improvement moves never raise the part's value.
TEST(FreePart, RepresentsTheRestrictedFunctionAndItsMovesNeverRaiseIt) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t n = 2 + trial % 12;
    const PBF q = RandomQuadratic(rng, n, 2 + trial % (4 * n), trial % 2 ? 20 : INT32_MAX, false);
    std::vector<int8_t> labels = RoofDuality(q).labels;
    if (trial % 3 == 0) {  // any labels, not only persistent ones
      for (int8_t& l : labels) l = static_cast<int8_t>(static_cast<int>(rng() % 3) - 1);
    }
    const FreePart part = MakeFreePart(q, labels);
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
