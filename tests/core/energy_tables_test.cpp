#include <gtest/gtest.h>

#include <bit>
#include <random>

#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::Evaluate;
using testing::ExpectInvariants;

// The defining double sum, O(4^n): the oracle for the subset transform.
std::vector<int32_t> MoebiusByDoubleLoop(const std::vector<int32_t>& vals) {
  std::vector<int32_t> coef(vals.size());
  for (uint32_t s = 0; s < vals.size(); ++s) {
    int32_t sum = 0;
    for (uint32_t m = 0; m < vals.size(); ++m) {
      if (m & ~s) continue;
      const int32_t v = vals[m];
      sum = std::popcount(s ^ m) % 2 ? WrapSub(sum, v) : WrapAdd(sum, v);
    }
    coef[s] = sum;
  }
  return coef;
}

// The terms a table makes, in ascending mask order, are the literal store's
// (Differential.EditsAndConversionsMatchTheLiteralStore, for tables of up to 6 variables with
// small values); here tables of up to 8 variables with values anywhere in int32: the number of
// terms and the constant against the defining sum, and every value against the table.
TEST(EnergyTables, TransformMatchesDoubleLoopAndValues) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX), small(-9, 9);
  for (int32_t n = 1; n <= 8; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      std::vector<int32_t> vals(size_t{1} << n);
      for (auto& v : vals) v = rep % 2 ? any(rng) : small(rng);
      std::vector<int32_t> vars(static_cast<size_t>(n));
      for (int32_t p = 0; p < n; ++p) vars[static_cast<size_t>(p)] = n - 1 - p;  // descending ids
      PBF f;
      f.AddHigherTerm(n, vars.data(), vals.data());
      ExpectInvariants(f);
      const auto coef = MoebiusByDoubleLoop(vals);
      int32_t nonzero = 0;
      for (size_t s = 1; s < coef.size(); ++s) nonzero += coef[s] != 0;
      int32_t stored = 0;
      for (int32_t d = 1; d <= f.MaxDegree(); ++d)
        stored += f.terms.HasTable(d) ? f.terms.Table(d).Size() : 0;
      EXPECT_EQ(stored, nonzero);
      EXPECT_EQ(f.constant, coef[0]);
      // Variable p is bit n-1-p of s and has id n-1-p, so the assignment is s itself.
      for (uint64_t s = 0; s < vals.size(); ++s) EXPECT_EQ(Evaluate(f, s), vals[s]);
    }
  }
}

}  // namespace
}  // namespace pbf
