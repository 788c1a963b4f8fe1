#include "minimize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "brute_force.h"
#include "evaluate.h"
#include "improve.h"
#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::AllValues;
using testing::BestCompletion;
using testing::RandomFunction;

MinimizeOptions Options(bool improve, bool probe,
                        QuadratizeMethod method = QuadratizeMethod::kTermwise) {
  MinimizeOptions options;
  options.improve = improve;
  options.probe = probe;
  options.method = method;
  return options;
}

// The labels marked persistent, the others -1.
std::vector<int> PersistentLabels(const Minimum& m) {
  std::vector<int> labels(m.labels.size(), -1);
  for (size_t v = 0; v < labels.size(); ++v) {
    if (m.persistent[v]) labels[v] = m.labels[v];
  }
  return labels;
}

// Everything Minimize promises, checked against all values of f (ids below n).
void ExpectGuarantees(const PBF& f, const std::vector<int64_t>& values, const Minimum& m,
                      const std::string& what) {
  const int64_t min = *std::min_element(values.begin(), values.end());
  ASSERT_EQ(m.labels.size(), static_cast<size_t>(f.MaxId() + 1)) << what;
  ASSERT_EQ(m.persistent.size(), m.labels.size()) << what;
  EXPECT_LE(m.lower_bound, min) << what;
  EXPECT_GE(m.energy, min) << what;
  EXPECT_EQ(m.energy, Evaluate(f, m.labels.data())) << what;
  EXPECT_EQ(BestCompletion(values, PersistentLabels(m)), min) << what;
}

// Random functions of up to 16 variables and degree 4 (mixed signs, some terms with their ids in
// any order), under every combination of options: the bound, the energy and the persistent labels
// hold, improvement never raises the energy, and probing never fixes less. Every quadratization
// in turn; kAuto labels at least as many of f's ids as each rule.
TEST(Minimize, KeepsItsGuaranteesOnRandomFunctions) {
  std::mt19937 rng(21);
  constexpr QuadratizeMethod kMethods[] = {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest,
                                           QuadratizeMethod::kGrouped, QuadratizeMethod::kAuto};
  const auto count = [](const Minimum& m) {
    return std::count(m.persistent.begin(), m.persistent.end(), 1);
  };
  int probing_fixed_more = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t n = trial < 290 ? 2 + trial % 11 : 16;
    PBF f = RandomFunction(rng, n, 1 + trial % (3 * n), 4, trial % 3 == 0 ? INT16_MAX : 20);
    if (trial % 4 == 1) {
      const int32_t unsorted[] = {n - 1, 0, n / 2};
      f.AddTerm(7, 3, unsorted);
      f.AddPairwise(-5, n - 1, 0);
    }
    const std::vector<int64_t> values = AllValues(f, n);
    const QuadratizeMethod method = kMethods[trial % 4];
    const std::string what = f.GetString() + " method " + std::to_string(trial % 4);
    Minimum results[2][2];
    for (const bool improve : {false, true}) {
      for (const bool probe : {false, true}) {
        results[improve][probe] = Minimize(f, Options(improve, probe, method));
        ASSERT_FALSE(results[improve][probe].unwritable) << what;
        ExpectGuarantees(f, values, results[improve][probe], what);
      }
    }
    if (method == QuadratizeMethod::kAuto) {
      for (const QuadratizeMethod rule : {kMethods[0], kMethods[1], kMethods[2]}) {
        EXPECT_GE(count(results[0][0]), count(Minimize(f, Options(false, false, rule)))) << what;
      }
    }
    for (const bool probe : {false, true}) {
      EXPECT_LE(results[1][probe].energy, results[0][probe].energy) << what;
      EXPECT_EQ(results[1][probe].persistent, results[0][probe].persistent) << what;
    }
    EXPECT_GE(count(results[0][1]), count(results[0][0])) << what;
    probing_fixed_more += count(results[0][1]) > count(results[0][0]);
  }
  EXPECT_GT(probing_fixed_more, 0);  // the probing case is exercised at all
}

// A submodular quadratic function passes the reduction and the quadratization unchanged, so roof
// duality decides every variable and the labelling is a minimiser. (The reduction can turn
// submodular higher-order terms into non-submodular ones, so nothing is promised for those.)
TEST(Minimize, SolvesSubmodularQuadraticFunctionsExactly) {
  std::mt19937 rng(22);
  for (int trial = 0; trial < 150; ++trial) {
    const int32_t n = 2 + trial % 12;
    const PBF f = testing::RandomQuadratic(rng, n, 1 + trial % (3 * n), 50, true);
    const std::vector<int64_t> values = AllValues(f, n);
    const Minimum m = Minimize(f, Options(false, false));
    ExpectGuarantees(f, values, m, f.GetString());
    EXPECT_EQ(m.energy, *std::min_element(values.begin(), values.end())) << f.GetString();
    EXPECT_TRUE(std::all_of(m.persistent.begin(), m.persistent.end(), [](uint8_t p) {
      return p == 1;
    })) << f.GetString();
  }
}

TEST(Minimize, HandlesDegenerateInputs) {
  using testing::FunctionOf;
  struct Case {
    const char* what;
    PBF f;
    int64_t energy;
  };
  const std::vector<int32_t> quartic = {1, 3, 4, 6};
  const Case cases[] = {
      {"empty", PBF(), 0},
      {"constant only", FunctionOf({}, INT32_MIN), INT32_MIN},
      {"zero terms only", FunctionOf({{0, quartic}, {0, {2}}}, 3), 3},
      {"gaps and a variable in no term", FunctionOf({{-4, quartic}, {3, {6}}}), -1},
      {"repeated and unsorted ids", FunctionOf({{-6, {2, 2, 5}}, {2, {5, 2}}}, 1), -3},
      {"constant and terms at the int32 limits",
       FunctionOf({{INT32_MIN, quartic}, {INT32_MIN, {0}}}, INT32_MIN), int64_t{INT32_MIN} * 3},
  };
  for (const Case& c : cases) {
    const int32_t n = c.f.MaxId() + 1;
    const std::vector<int64_t> values = AllValues(c.f, n);
    for (const bool probe : {false, true}) {
      const Minimum m = Minimize(c.f, Options(true, probe));
      ExpectGuarantees(c.f, values, m, c.what);
      EXPECT_EQ(m.energy, c.energy) << c.what;
    }
  }
}

// Functions whose neighbourhood sums pass int32 in the reduction: a rewrite made from wrapped
// sums would exclude the true minimisers. (2^31-1) x0x1x2 + (2^31-1) x0x1 has minimum 0, but the
// wrapped reduction made Minimize claim [1, 1, 0] persistent with energy 2^31-1. Every rule, with
// and without probing; random neighbours at the limit as well.
TEST(Minimize, StaysCorrectWhereTheReductionsSumsWouldWrap) {
  const int32_t ids[] = {0, 1, 2};
  int32_t table[8] = {};
  table[7] = INT32_MAX;
  std::vector<PBF> functions = {testing::MakeFunction(0, [&](PBF& f) {
    f.AddHigherTerm(3, ids, table);
    f.AddPairwiseTerm(0, 1, 0, 0, 0, INT32_MAX);
  })};
  std::mt19937 rng(25);
  for (int trial = 0; trial < 30; ++trial) {
    PBF f = RandomFunction(rng, 6, 8, 4, INT32_MAX);
    f.AddTerm(static_cast<int32_t>(rng()), 3, ids);
    functions.push_back(f);
  }
  int solved = 0;
  for (const PBF& f : functions) {
    const int32_t n = f.MaxId() + 1;
    const std::vector<int64_t> values = AllValues(f, n);
    const int64_t min = *std::min_element(values.begin(), values.end());
    for (const QuadratizeMethod method : {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest,
                                          QuadratizeMethod::kGrouped, QuadratizeMethod::kAuto}) {
      for (const bool probe : {false, true}) {
        const std::string what = f.GetString() + " method " +
                                 std::to_string(static_cast<int>(method)) +
                                 (probe ? " probing" : "");
        const Minimum m = Minimize(f, Options(true, probe, method));
        if (m.unwritable) continue;  // said so, and claims nothing
        ++solved;
        ExpectGuarantees(f, values, m, what);
        if (std::all_of(m.persistent.begin(), m.persistent.end(), [](uint8_t p) { return p; })) {
          EXPECT_EQ(m.energy, min) << what;
        }
      }
    }
  }
  EXPECT_GT(solved, 100);
  // The first function: termwise and fewest cannot write the term the safe pass leaves, but the
  // grouped rule can, so kAuto must solve it, exactly.
  const Minimum m = Minimize(functions[0], Options(true, false, QuadratizeMethod::kAuto));
  ASSERT_FALSE(m.unwritable);
  EXPECT_EQ(m.energy, 0);
  EXPECT_LE(m.lower_bound, 0);
}

// The descent on f never raises the value, moves only what it may, and stops where no single
// flip of a movable variable helps.
TEST(Descend, EndsInASingleFlipMinimumOfTheMovableVariables) {
  std::mt19937 rng(24);
  for (int trial = 0; trial < 200; ++trial) {
    const int32_t n = 3 + trial % 10;
    PBF f = RandomFunction(rng, n, 2 * n, 4, 30);
    const int32_t repeated[] = {1, 0, 1};
    if (trial % 3 == 0) f.AddTerm(-9, 3, repeated);
    const auto size = static_cast<size_t>(f.MaxId() + 1);
    std::vector<uint8_t> x(size), movable(size);
    for (size_t v = 0; v < size; ++v) {
      x[v] = rng() & 1;
      movable[v] = rng() % 4 != 0;
    }
    const std::vector<uint8_t> start = x;
    Descend(f, movable, x);
    const int64_t value = Evaluate(f, x.data());
    EXPECT_LE(value, Evaluate(f, start.data()));
    for (size_t v = 0; v < size; ++v) {
      if (!movable[v]) {
        EXPECT_EQ(x[v], start[v]);
        continue;
      }
      x[v] ^= 1;
      EXPECT_GE(Evaluate(f, x.data()), value) << f.GetString();
      x[v] ^= 1;
    }
  }
}

}  // namespace
}  // namespace pbf
