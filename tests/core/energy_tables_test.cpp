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

TEST(EnergyTables, UnaryAndPairwiseForms) {
  PBF f;
  f.AddUnaryTerm(3, 10, 4);
  EXPECT_EQ(f.constant, 10);
  EXPECT_EQ(f.terms.Table(1).coefs, (std::vector<int32_t>{-6}));

  PBF g;
  g.AddPairwiseTerm(0, 1, 0, 0, 0, 0);  // every step runs, creating zero terms
  EXPECT_EQ(g.GetString(), " 0x_{1} 0x_{2} 0x_{1}x_{2} +0");

  PBF h;
  h.AddPairwiseTerm(2, 5, 1, 2, 3, 10);
  for (uint64_t x = 0; x < 64; ++x) {
    const int a = (x >> 2) & 1, b = (x >> 5) & 1;
    const int32_t want[2][2] = {{1, 2}, {3, 10}};
    EXPECT_EQ(Evaluate(h, x), want[a][b]);
  }
}

TEST(EnergyTables, HigherTermCases) {
  PBF zero;
  const int32_t xy[2] = {4, 5};
  const int32_t zeros[4] = {0, 0, 0, 0};
  zero.AddHigherTerm(2, xy, zeros);
  EXPECT_EQ(zero.GetString(), " +0");

  PBF constant;
  const int32_t seven[1] = {7};
  constant.AddHigherTerm(0, nullptr, seven);
  EXPECT_EQ(constant.GetString(), " +7");

  const int32_t xyz[3] = {0, 1, 2};
  PBF product;
  const int32_t only_last[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  product.AddHigherTerm(3, xyz, only_last);
  EXPECT_EQ(product.GetString(), " +1x_{1}x_{2}x_{3} +0");

  PBF linear;
  const int32_t identity[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  linear.AddHigherTerm(3, xyz, identity);  // terms reached as (z), (y), (x)
  EXPECT_EQ(linear.GetString(), " +1x_{3} +2x_{2} +4x_{1} +0");
}

TEST(EnergyTables, SubsetOrderCreatesTermsInMaskOrder) {
  PBF f;
  const int32_t xyz[3] = {10, 11, 12};
  const int32_t vals[8] = {1, 2, 4, 8, 16, 32, 64, 128};
  f.AddHigherTerm(3, xyz, vals);
  // (z), (y), (y,z), (x), (x,z), (x,y), (x,y,z): degree-1 order z, y, x; degree-2 (y,z),(x,z),(x,y)
  const TermTable& pairs = f.terms.Table(2);
  EXPECT_EQ(pairs.vars, (std::vector<int32_t>{11, 12, 10, 12, 10, 11}));
  EXPECT_EQ(f.terms.Table(1).vars, (std::vector<int32_t>{12, 11, 10}));
}

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
