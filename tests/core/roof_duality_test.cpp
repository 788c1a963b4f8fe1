#include "roof_duality.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "brute_force.h"
#include "evaluate.h"
#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::AllValues;
using testing::BestCompletion;
using testing::RandomQuadratic;

int64_t CeilHalf(int64_t a) { return a >= 0 ? (a + 1) / 2 : -(-a / 2); }

// The roof dual computed another way: the standard linear relaxation, whose optimum is attained
// at x in {0, 1/2, 1}^n with y_ij = max(0, x_i + x_j - 1) for a positive and min(x_i, x_j) for a
// negative (merged) pair coefficient. Enumerates 3^n points in units of 1/2.
int64_t RelaxationBound(const PBF& q, int32_t n) {
  std::vector<int64_t> unary(static_cast<size_t>(n), 0);
  std::vector<int64_t> pair(static_cast<size_t>(n * n), 0);
  const TermTable& u = q.terms.Table(1);
  for (int32_t t = 0; t < u.Size(); ++t)
    unary[static_cast<size_t>(u.Ids(t)[0])] += u.coefs[static_cast<size_t>(t)];
  const TermTable& p = q.terms.Table(2);
  for (int32_t t = 0; t < p.Size(); ++t) {
    int32_t i = p.Ids(t)[0], j = p.Ids(t)[1];
    const int64_t a = p.coefs[static_cast<size_t>(t)];
    if (i == j) {
      unary[static_cast<size_t>(i)] += a;
      continue;
    }
    if (i > j) std::swap(i, j);
    pair[static_cast<size_t>(i * n + j)] += a;
  }
  int64_t best = INT64_MAX;
  std::vector<int64_t> x(static_cast<size_t>(n), 0);  // 2x
  for (;;) {
    int64_t twice = 2 * int64_t{q.constant};
    for (int32_t i = 0; i < n; ++i) {
      twice += unary[static_cast<size_t>(i)] * x[static_cast<size_t>(i)];
      for (int32_t j = i + 1; j < n; ++j) {
        const int64_t a = pair[static_cast<size_t>(i * n + j)];
        const int64_t xi = x[static_cast<size_t>(i)], xj = x[static_cast<size_t>(j)];
        twice += a > 0 ? a * std::max<int64_t>(0, xi + xj - 2) : a * std::min(xi, xj);
      }
    }
    best = std::min(best, twice);
    int32_t k = 0;
    while (k < n && x[static_cast<size_t>(k)] == 2) x[static_cast<size_t>(k++)] = 0;
    if (k == n) break;
    ++x[static_cast<size_t>(k)];
  }
  return CeilHalf(best);
}

TEST(RoofDuality, BoundEqualsTheLinearRelaxation) {
  std::mt19937 rng(11);
  for (const int32_t range : {5, 1000, INT32_MAX}) {
    for (int trial = 0; trial < 150; ++trial) {
      const int32_t n = 1 + trial % 8;
      const PBF q = RandomQuadratic(rng, n, 2 + trial % 20, range, false);
      const RoofDual rd = RoofDuality(q);
      ASSERT_EQ(rd.lower_bound, RelaxationBound(q, n))
          << "range " << range << ": " << q.GetString();
    }
  }
}

// The fixed labels extend to a minimiser together, and they form an autarky: imposing them on any
// labelling never raises the value (what Minimize's improvement moves rely on).
TEST(RoofDuality, FixedLabelsAreJointlyPersistentAndNeverRaiseTheValue) {
  std::mt19937 rng(12);
  for (const int32_t range : {3, 100, INT32_MAX}) {
    for (int trial = 0; trial < 200; ++trial) {
      const int32_t n = trial < 190 ? 2 + trial % 11 : 16;
      const std::vector<int32_t> gaps =
          trial % 3 == 0 && n >= 4 ? std::vector<int32_t>{0, n / 2} : std::vector<int32_t>{};
      const PBF q = RandomQuadratic(rng, n, 1 + trial % (3 * n), range, false, gaps);
      const RoofDual rd = RoofDuality(q);
      ASSERT_EQ(rd.labels.size(), static_cast<size_t>(q.MaxId() + 1));
      const std::vector<int64_t> values = AllValues(q, n);
      const int64_t min = *std::min_element(values.begin(), values.end());
      ASSERT_LE(rd.lower_bound, min) << q.GetString();
      ASSERT_EQ(BestCompletion(values, rd.labels), min) << q.GetString();
      for (const int32_t gap : gaps) {
        if (gap <= q.MaxId()) {
          EXPECT_EQ(rd.labels[static_cast<size_t>(gap)], 0);
        }
      }
      for (size_t m = 0; m < values.size(); ++m) {
        size_t imposed = m;
        for (size_t v = 0; v < rd.labels.size(); ++v) {
          if (rd.labels[v] >= 0)
            imposed = (imposed & ~(size_t{1} << v)) | (size_t(rd.labels[v]) << v);
        }
        ASSERT_LE(values[imposed], values[m]) << q.GetString();
      }
    }
  }
}

TEST(RoofDuality, SolvesSubmodularFunctionsWhole) {
  std::mt19937 rng(13);
  for (int trial = 0; trial < 200; ++trial) {
    const int32_t n = 1 + trial % 14;
    const PBF q = RandomQuadratic(rng, n, 1 + trial % (4 * n), trial % 2 ? 50 : INT32_MAX, true);
    const RoofDual rd = RoofDuality(q);
    const std::vector<int64_t> values = AllValues(q, n);
    const int64_t min = *std::min_element(values.begin(), values.end());
    std::vector<uint8_t> x(rd.labels.size() + 1);
    for (size_t v = 0; v < rd.labels.size(); ++v) {
      ASSERT_GE(rd.labels[v], 0) << q.GetString();
      x[v] = static_cast<uint8_t>(rd.labels[v]);
    }
    EXPECT_EQ(Evaluate(q, x.data()), min) << q.GetString();
    EXPECT_EQ(rd.lower_bound, min) << q.GetString();
  }
}

// No shared state: solves on several threads at once give what they give one at a time (the
// ThreadSanitizer run checks the rest).
TEST(RoofDuality, SolvesOnSeveralThreadsAtOnce) {
  std::mt19937 rng(14);
  std::vector<PBF> functions;
  for (int k = 0; k < 8; ++k) functions.push_back(RandomQuadratic(rng, 200, 800, 50, false));
  std::vector<RoofDual> alone;
  for (const PBF& q : functions) alone.push_back(RoofDuality(q));
  std::vector<RoofDual> together(functions.size());
  std::vector<std::thread> threads;
  for (size_t k = 0; k < functions.size(); ++k) {
    threads.emplace_back([&, k] { together[k] = RoofDuality(functions[k]); });
  }
  for (std::thread& t : threads) t.join();
  for (size_t k = 0; k < functions.size(); ++k) {
    EXPECT_EQ(together[k].labels, alone[k].labels);
    EXPECT_EQ(together[k].lower_bound, alone[k].lower_bound);
  }
}

TEST(RoofDuality, HandlesDegenerateInputs) {
  using testing::FunctionOf;
  struct Case {
    const char* what;
    PBF q;
    std::vector<int8_t> labels;
    int64_t bound;
  };
  const Case cases[] = {
      {"empty", PBF(), {}, 0},
      {"constant only", FunctionOf({}, -7), {}, -7},
      {"zero terms only", FunctionOf({{0, {1}}, {0, {0, 2}}}, 2), {0, 0, 0}, 2},
      {"(i, i) is x_i", FunctionOf({{-3, {1, 1}}}), {0, 1}, -3},
      {"(i, j) and (j, i) cancel", FunctionOf({{5, {0, 1}}, {-5, {1, 0}}}), {0, 0}, 0},
      {"gaps and a variable in no term", FunctionOf({{4, {5}}, {-2, {2}}}, 1), {0, 0, 1, 0, 0, 0},
       -1},
      {"int32 limits add up in 64 bits",
       FunctionOf({{INT32_MIN, {0, 1}}, {INT32_MIN, {0, 2}}, {INT32_MIN, {0, 3}},
                   {INT32_MIN, {0, 4}}},
                  INT32_MIN),
       {1, 1, 1, 1, 1},
       int64_t{INT32_MIN} * 5},
      {"higher terms with zero coefficients are ignored", FunctionOf({{0, {0, 1, 2}}, {1, {1}}}),
       {0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    const RoofDual rd = RoofDuality(c.q);
    EXPECT_EQ(rd.labels, c.labels) << c.what;
    EXPECT_EQ(rd.lower_bound, c.bound) << c.what;
  }
}

}  // namespace
}  // namespace pbf
