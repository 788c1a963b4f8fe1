#include "quadratize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "four_variable_form.h"
#include "monomial_pool.h"
#include "pbf.h"
#include "quadratic_builder.h"
#include "quadratize_methods.h"
#include "roof_duality.h"
#include "test_util.h"
#include "workloads.h"

namespace pbf {
namespace {

using testing::ExpectInvariants;
using Ids = std::vector<int32_t>;

constexpr QuadratizeMethod kMethods[] = {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest,
                                         QuadratizeMethod::kGrouped};
constexpr QuadratizeMethod kAllMethods[] = {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest,
                                            QuadratizeMethod::kGrouped, QuadratizeMethod::kAuto};

std::string Name(QuadratizeMethod m) {
  switch (m) {
    case QuadratizeMethod::kTermwise:
      return "termwise";
    case QuadratizeMethod::kFewest:
      return "fewest";
    case QuadratizeMethod::kGrouped:
      return "grouped";
    case QuadratizeMethod::kAuto:
      return "auto";
  }
  return "?";
}

// A function as bit masks over the positions of its variables, evaluated exactly in 64 bits.
struct Masked {
  int64_t constant = 0;
  std::vector<std::pair<uint64_t, int64_t>> terms;

  // `position[id]`: the bit of id (every id of f must have one).
  Masked(const PBF& f, const std::vector<int>& position) : constant(f.constant) {
    for (const auto& table : f.terms.tables) {
      if (!table) continue;
      for (int32_t t = 0; t < table->Size(); ++t) {
        uint64_t mask = 0;
        for (int32_t k = 0; k < table->degree; ++k) {
          mask |= uint64_t{1} << position[static_cast<size_t>(table->Ids(t)[k])];
        }
        terms.emplace_back(mask, table->coefs[static_cast<size_t>(t)]);
      }
    }
  }
  int64_t operator()(uint64_t x) const {
    int64_t value = constant;
    for (const auto& [mask, coef] : terms) {
      if ((x & mask) == mask) value += coef;
    }
    return value;
  }
};

// The auxiliaries of a quadratization of f: the ids of `q` from `first` on, each at most once.
std::vector<int32_t> Auxiliaries(const PBF& q, int64_t first) {
  std::vector<int32_t> aux;
  for (const auto& table : q.terms.tables) {
    if (!table) continue;
    for (const int32_t id : table->vars) {
      if (id >= first) aux.push_back(id);
    }
  }
  std::sort(aux.begin(), aux.end());
  aux.erase(std::unique(aux.begin(), aux.end()), aux.end());
  return aux;
}

bool Quadratic(const PBF& q) {
  for (size_t d = 3; d < q.terms.tables.size(); ++d) {
    if (q.terms.tables[d] && q.terms.tables[d]->Size() > 0) return false;
  }
  return true;
}

// Whether min over the auxiliaries of q equals f at every assignment of f's variables (ids below
// `first`, all below 64 - aux). Positions: f's ids keep theirs, auxiliaries follow.
::testing::AssertionResult Represents(const PBF& f, const PBF& q, int64_t first) {
  if (!Quadratic(q)) return ::testing::AssertionFailure() << "a term of degree 3 or more is left";
  const std::vector<int32_t> aux = Auxiliaries(q, first);
  const int vars = f.MaxId() + 1;
  std::vector<int> position(static_cast<size_t>(std::max<int64_t>(first, q.MaxId() + 1)), -1);
  for (int v = 0; v < vars; ++v) position[static_cast<size_t>(v)] = v;
  for (size_t a = 0; a < aux.size(); ++a)
    position[static_cast<size_t>(aux[a])] = vars + static_cast<int>(a);
  for (int v = 0; v <= q.MaxId(); ++v) {
    if (position[static_cast<size_t>(v)] < 0 &&
        !q.terms.occurrences[static_cast<size_t>(v)].empty()) {
      return ::testing::AssertionFailure() << "id " << v << " is neither f's nor an auxiliary";
    }
  }
  const Masked exact(f, position);
  const Masked quadratic(q, position);
  for (uint64_t x = 0; x < (uint64_t{1} << vars); ++x) {
    int64_t best = INT64_MAX;
    for (uint64_t w = 0; w < (uint64_t{1} << aux.size()); ++w) {
      best = std::min(best, quadratic(x | w << vars));
    }
    if (best != exact(x)) {
      return ::testing::AssertionFailure()
             << "at x = " << x << ": min " << best << ", f " << exact(x);
    }
  }
  return ::testing::AssertionSuccess();
}

// A random function over `vars` variables: terms of degree 1 … 8 with ascending, unsorted or
// repeated ids, and clique tables of 3 … 5 variables. Coefficients small, or (big) a third of them
// near the int32 limits.
PBF RandomFunction(std::mt19937& rng, int32_t vars, int32_t count, bool big) {
  std::uniform_int_distribution<int32_t> small(-6, 6);
  const auto coef = [&] {
    if (!big || rng() % 3 != 0) return small(rng);
    const int32_t limits[] = {INT32_MIN,  INT32_MAX, INT32_MIN + 1, 1 << 30,
                              -(1 << 30), 1 << 28,   -(1 << 28),    INT32_MAX / 3};
    return limits[rng() % 8];
  };
  PBF f;
  f.constant = coef();
  Ids pool(static_cast<size_t>(vars));
  for (int32_t v = 0; v < vars; ++v) pool[static_cast<size_t>(v)] = v;
  for (int32_t n = 0; n < count; ++n) {
    const int32_t mode = static_cast<int32_t>(rng() % 4);
    if (mode == 3) {
      // A clique table: a quartic term with the cubic ones inside it, as on image grids.
      const int32_t size = std::min<int32_t>(vars, 3 + static_cast<int32_t>(rng() % 3));
      std::shuffle(pool.begin(), pool.end(), rng);
      std::vector<int32_t> vals(size_t{1} << size);
      for (int32_t& v : vals) v = big && rng() % 8 == 0 ? coef() : small(rng);
      f.AddHigherTerm(size, pool.data(), vals.data());
      continue;
    }
    const int32_t top = mode == 2 ? 8 : std::min(8, vars);
    const int32_t d = std::uniform_int_distribution<int32_t>(1, top)(rng);
    Ids ids;
    if (mode == 2) {
      for (int32_t k = 0; k < d; ++k)
        ids.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(vars)));
    } else {
      std::shuffle(pool.begin(), pool.end(), rng);
      ids.assign(pool.begin(), pool.begin() + d);
      if (mode == 0) std::sort(ids.begin(), ids.end());
    }
    f.AddTerm(coef(), d, ids.data());
  }
  return f;
}

bool ValidHigherTerm(const PBF& f, TermPosition p) {
  return p.degree >= 3 && f.terms.HasTable(p.degree) && p.index >= 0 &&
         p.index < f.terms.Table(p.degree).Size();
}

// The largest magnitude among f's coefficients and its constant.
int64_t LargestCoef(const PBF& f) {
  int64_t largest = std::abs(int64_t{f.constant});
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (const int32_t c : table->coefs) largest = std::max(largest, std::abs(int64_t{c}));
  }
  return largest;
}

class QuadratizeMethodTest : public ::testing::TestWithParam<QuadratizeMethod> {};

TEST_P(QuadratizeMethodTest, MinimumOverAuxiliariesEqualsTheFunctionOnRandomFunctions) {
  const QuadratizeMethod method = GetParam();
  std::mt19937 rng(20261208 + static_cast<int>(method));
  int checked = 0;
  int reported = 0;
  for (int rep = 0; rep < 600; ++rep) {
    SCOPED_TRACE(::testing::Message() << "rep " << rep);
    const bool big = rep % 2 == 1;
    const int32_t vars = std::uniform_int_distribution<int32_t>(1, 12)(rng);
    const int32_t count = std::uniform_int_distribution<int32_t>(0, vars <= 6 ? 10 : 5)(rng);
    const PBF f = RandomFunction(rng, vars, count, big);
    const std::string before = f.GetString();
    const int32_t newvar = std::uniform_int_distribution<int32_t>(-3, vars + 3)(rng);
    const int64_t first = std::max<int64_t>(newvar, f.MaxId() + 1);

    PBF q;
    const std::optional<TermPosition> failed = Quadratize(f, method, newvar, q);
    EXPECT_EQ(f.GetString(), before);
    if (failed) {
      ++reported;
      EXPECT_TRUE(big) << "reported a term of a function with small coefficients";
      EXPECT_TRUE(ValidHigherTerm(f, *failed));
      EXPECT_GE(LargestCoef(f), 1 << 28);
      continue;
    }
    ExpectInvariants(q);
    const size_t aux = Auxiliaries(q, first).size();
    if (f.MaxId() + 1 + static_cast<int64_t>(aux) > 17) continue;  // keeps the brute force quick
    ++checked;
    ASSERT_TRUE(Represents(f, q, first)) << Name(method) << "\n"
                                         << f.GetString() << "\n"
                                         << q.GetString();
  }
  EXPECT_GT(checked, 400);
  EXPECT_GT(reported, 0);  // the big coefficients do reach the limits
}

INSTANTIATE_TEST_SUITE_P(AllMethods, QuadratizeMethodTest, ::testing::ValuesIn(kAllMethods),
                         [](const auto& info) { return Name(info.param); });

int32_t AuxiliaryCount(const PBF& q, int64_t first) {
  return static_cast<int32_t>(Auxiliaries(q, first).size());
}

// The 64-bit path of kTermwise, which Quadratize skips where ToQuadratic provably fits.
std::optional<TermPosition> ExactTermwise(const PBF& f, int32_t newvar, PBF& out) {
  QuadraticBuilder builder(std::max<int64_t>(newvar, f.MaxId() + 1), /*ordered=*/true);
  if (std::optional<TermPosition> failed = WriteTermwise(f, builder)) return failed;
  return builder.Finish(out);
}

TEST(QuadratizeTermwise, WritesWhatToQuadraticWritesUnlessACoefficientLeavesInt32) {
  std::mt19937 rng(77);
  int identical = 0;
  for (int rep = 0; rep < 400; ++rep) {
    SCOPED_TRACE(::testing::Message() << "rep " << rep);
    const bool big = rep % 2 == 1;
    const int32_t vars = std::uniform_int_distribution<int32_t>(1, 10)(rng);
    const PBF f = RandomFunction(rng, vars, std::uniform_int_distribution<int32_t>(0, 8)(rng), big);
    const int32_t newvar = std::uniform_int_distribution<int32_t>(-3, vars + 3)(rng);
    const int64_t first = std::max<int64_t>(newvar, f.MaxId() + 1);
    PBF expected;
    const int32_t next = f.ToQuadratic(expected, newvar);
    PBF q;
    const std::optional<TermPosition> failed =
        Quadratize(f, QuadratizeMethod::kTermwise, newvar, q);
    if (!big) {
      ASSERT_FALSE(failed);
      EXPECT_TRUE(ToQuadraticFits(f, first));
      PBF exact;
      ASSERT_FALSE(ExactTermwise(f, newvar, exact));
      EXPECT_EQ(exact.GetString(), expected.GetString());
      ExpectInvariants(exact);
    }
    if (!failed && AuxiliaryCount(q, first) == next - first) {
      // No term was split, and every coefficient fits: nothing of ToQuadratic's wrapped.
      EXPECT_EQ(q.GetString(), expected.GetString());
      ++identical;
    } else if (failed && f.MaxId() + 1 + (next - first) <= 16) {
      // A sum of contributions to a pair of f's own variables left int32: ToQuadratic wrapped it.
      EXPECT_FALSE(Represents(f, expected, first));
    }
  }
  EXPECT_GT(identical, 250);
}

// One case per way out of the int32 range: the coefficient is split where the rule's multiples
// would leave it, and a term is reported only where a sum over several terms does.
TEST(Quadratize, SplitsWhatOneTermNeedsAndReportsWhatSumsNeed) {
  struct Term {
    int32_t coef;
    Ids ids;
  };
  struct Case {
    std::string what;
    QuadratizeMethod method;
    std::vector<Term> terms;
    int32_t auxiliaries;                 // when written
    std::optional<TermPosition> failed;  // when reported
  };
  const auto kTermwise = QuadratizeMethod::kTermwise;
  const auto kFewest = QuadratizeMethod::kFewest;
  const auto kGrouped = QuadratizeMethod::kGrouped;
  const Case cases[] = {
      // 3a on the auxiliaries' unary terms: parts of at most (2^31 - 1)/3, two auxiliaries each.
      {"termwise positive", kTermwise, {{INT32_MAX, {0, 1, 2, 3, 4}}}, 8, {}},
      // (1 - d)·a = 2^32 on the auxiliary.
      {"termwise negative", kTermwise, {{INT32_MIN, {2, 0, 1}}}, 3, {}},
      {"termwise repeated", kTermwise, {{-(1 << 29), {5, 5, 5, 5}}}, 1, {}},
      // 10·a on y(2) for degree 7 (BCR): 2^30 splits into 5 parts of two auxiliaries.
      {"fewest positive", kFewest, {{1 << 30, {0, 1, 2, 3, 4, 5, 6}}}, 10, {}},
      {"fewest negative", kFewest, {{INT32_MIN, {0, 1, 2, 3, 4}}}, 5, {}},
      // The shared auxiliary's pair would hold 2^32 - 2: two auxiliaries, each member's negative
      // part -a·y·x·x' then in three parts for its 2a.
      {"grouped sum", kGrouped, {{INT32_MAX, {0, 1, 2}}, {INT32_MAX, {0, 3, 4}}}, 8, {}},
      // The cubic term's positive remainder finds a pair other than (0, 1) to land on.
      {"grouped avoids", kGrouped, {{INT32_MAX, {0, 1}}, {1, {0, 1, 2}}}, 2, {}},
      // Both rules put the cubic term's +1 on the pair (0, 1), which already holds 2^31 - 1.
      {"termwise pair sum",
       kTermwise,
       {{INT32_MAX, {0, 1}}, {1, {0, 1, 2}}},
       0,
       TermPosition{3, 0}},
      {"fewest pair sum", kFewest, {{INT32_MAX, {0, 1}}, {1, {0, 1, 2}}}, 0, TermPosition{3, 0}},
      // Two orders of one product are one monomial for kFewest: its pairs get 2^31 once.
      {"fewest merged",
       kFewest,
       {{1 << 30, {0, 1, 2}}, {1 << 30, {2, 1, 0}}},
       0,
       TermPosition{3, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PBF f;
    for (const Term& t : c.terms)
      f.AddTerm(t.coef, static_cast<int32_t>(t.ids.size()), t.ids.data());
    PBF q;
    const std::optional<TermPosition> failed = Quadratize(f, c.method, 0, q);
    EXPECT_EQ(failed, c.failed);
    if (failed) continue;
    EXPECT_EQ(AuxiliaryCount(q, f.MaxId() + 1), c.auxiliaries);
    EXPECT_TRUE(Represents(f, q, f.MaxId() + 1));
  }
}

TEST(Quadratize, ReportsATermWhoseAuxiliariesPassTheLargestId) {
  // Every method needs two auxiliaries for a positive quintic term, and only 2^31 - 1 is left.
  PBF quintic;
  quintic.AddTerm(1, 5, Ids{0, 1, 2, 3, 4}.data());
  quintic.AddUnary(3, 7);
  for (const QuadratizeMethod method : kAllMethods) {
    SCOPED_TRACE(Name(method));
    PBF q;
    EXPECT_EQ(Quadratize(quintic, method, INT32_MAX, q), (TermPosition{5, 0}));
  }
}

TEST(Quadratize, AutoKeepsTheMethodWhoseRoofDualLabelsMost) {
  std::mt19937 rng(77);
  for (int rep = 0; rep < 300; ++rep) {
    SCOPED_TRACE(::testing::Message() << "rep " << rep);
    const int32_t vars = std::uniform_int_distribution<int32_t>(3, 12)(rng);
    const PBF f = RandomFunction(rng, vars, std::uniform_int_distribution<int32_t>(1, 8)(rng),
                                 /*big=*/false);
    const auto n = static_cast<size_t>(f.MaxId() + 1);
    // The rule: most labelled ids of f, then fewest auxiliaries, then the earliest method.
    std::string expected;
    int64_t best_labelled = -1;
    int64_t best_auxiliaries = 0;
    for (const QuadratizeMethod method : kMethods) {
      PBF q;
      ASSERT_FALSE(Quadratize(f, method, 0, q));
      const std::vector<int8_t> labels = RoofDuality(q).labels;
      int64_t labelled = 0;
      for (size_t v = 0; v < n; ++v) labelled += v >= labels.size() || labels[v] >= 0;
      const int64_t auxiliaries = AuxiliaryCount(q, f.MaxId() + 1);
      if (labelled > best_labelled ||
          (labelled == best_labelled && auxiliaries < best_auxiliaries)) {
        expected = q.GetString();
        best_labelled = labelled;
        best_auxiliaries = auxiliaries;
      }
    }
    PBF automatic;
    ASSERT_FALSE(Quadratize(f, QuadratizeMethod::kAuto, 0, automatic));
    EXPECT_EQ(automatic.GetString(), expected);
  }
}

// The quadratizations that look across terms find f's own terms through f's occurrence lists
// (Lookup::kOccurrences); through hashed copies of them (kHashed) they write what they wrote
// before those lookups existed. Both must write the same text and report the same term.
std::optional<TermPosition> WriteWith(QuadratizeMethod method, Lookup lookup, const PBF& f,
                                      PBF& out) {
  QuadraticBuilder builder(f.MaxId() + 1, /*ordered=*/false);
  const std::optional<TermPosition> failed = method == QuadratizeMethod::kFewest
                                                 ? WriteFewest(f, builder, lookup)
                                                 : WriteGrouped(f, builder, lookup);
  if (failed) return failed;
  return builder.Finish(out);
}

// The text of a quadratization, or the term it reports.
std::string Written(QuadratizeMethod method, Lookup lookup, const PBF& f) {
  PBF q;
  const std::optional<TermPosition> failed = WriteWith(method, lookup, f, q);
  if (failed)
    return "failed " + std::to_string(failed->degree) + " " + std::to_string(failed->index);
  ExpectInvariants(q);
  return q.GetString();
}

// Terms of degree 3 and 4 with ascending ids, many sharing pairs (a third hold one of two hub
// variables), beside pairs and unary terms; coefficients in -9 ... 9, zeros kept in odd seeds
// only. Drawn with splitmix64, so that the recorded checksums hold on every platform.
PBF SharedPairFunction(uint64_t seed) {
  bench::SplitMix64 rng{seed};
  const int32_t vars = 6 + rng.Below(20);
  const int32_t terms = 10 + rng.Below(120);
  PBF f;
  for (int32_t n = 0; n < vars; ++n) {
    f.AddUnary(rng.Below(19) - 9, rng.Below(static_cast<uint64_t>(vars)));
    const int32_t i = rng.Below(static_cast<uint64_t>(vars));
    const int32_t j = rng.Below(static_cast<uint64_t>(vars));
    f.AddPairwise(rng.Below(19) - 9, i, j);
  }
  for (int32_t n = 0; n < terms; ++n) {
    const size_t d = rng.Below(4) == 0 ? 4 : 3;
    Ids ids;
    if (rng.Below(3) == 0) ids.push_back(rng.Below(2));
    while (ids.size() < d) {
      const int32_t v = rng.Below(static_cast<uint64_t>(vars));
      if (std::find(ids.begin(), ids.end(), v) == ids.end()) ids.push_back(v);
    }
    std::sort(ids.begin(), ids.end());
    int32_t coef = rng.Below(19) - 9;
    if (coef == 0 && seed % 2 == 0) coef = 1;
    f.AddTerm(coef, static_cast<int32_t>(d), ids.data());
  }
  return f;
}

constexpr QuadratizeMethod kAcrossTerms[] = {QuadratizeMethod::kFewest, QuadratizeMethod::kGrouped};

TEST(QuadratizeLookup, ListsAndHashesWriteTheSameOnRandomFunctions) {
  std::mt19937 rng(1411);
  for (int rep = 0; rep < 600; ++rep) {
    SCOPED_TRACE(::testing::Message() << "rep " << rep);
    const int32_t vars = std::uniform_int_distribution<int32_t>(1, 12)(rng);
    // Every third function only with ascending ids and no zero coefficient above degree 2, the
    // layout whose terms the pool adopts from f.
    PBF f = RandomFunction(rng, vars, std::uniform_int_distribution<int32_t>(0, 10)(rng),
                           /*big=*/rep % 2 == 1);
    if (rep % 3 == 0) {
      PBF sorted = f;
      sorted.terms = TermStore();
      for (size_t d = 1; d < f.terms.tables.size(); ++d) {
        if (!f.terms.HasTable(static_cast<int32_t>(d))) continue;
        const TermTable& table = f.terms.Table(static_cast<int32_t>(d));
        for (int32_t t = 0; t < table.Size(); ++t) {
          Ids ids(table.Ids(t), table.Ids(t) + d);
          std::sort(ids.begin(), ids.end());
          ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
          const int32_t coef = table.Coef(t) == 0 ? 1 : table.Coef(t);
          sorted.AddTerm(coef, static_cast<int32_t>(ids.size()), ids.data());
        }
      }
      f = sorted;
    }
    for (const QuadratizeMethod method : kAcrossTerms) {
      EXPECT_EQ(Written(method, Lookup::kOccurrences, f), Written(method, Lookup::kHashed, f))
          << Name(method) << "\n"
          << f.GetString();
    }
  }
}

// The checksums (bench::Checksum of the text, or of "failed d t") that the implementation before
// these lookups wrote: on the workloads, and on 300 SharedPairFunctions, all joined by newlines.
TEST(QuadratizeLookup, WritesWhatTheHashedImplementationWrote) {
  struct Case {
    const char* name;
    bench::Workload workload;
    bool reduced;
    uint64_t fewest;
    uint64_t grouped;
  };
  const Case cases[] = {
      {"grid40", bench::Grid(40), false, 0x6f55ad49c6bd619c, 0x9a489d37b4c3c5c9},
      {"grid40 reduced", bench::Grid(40), true, 0x2335afb3a376e9a4, 0x711e349d8c0a082d},
      {"grid128", bench::Grid(128), false, 0x95d4b9b7d56ee66c, 0x9fdbd9bea27a1495},
      {"grid128 reduced", bench::Grid(128), true, 0xd6733e002955f8f7, 0x1bc2ab0494445790},
      {"pubo", bench::Pubo(300, 2000), false, 0x42d2921e651ab23d, 0x2b15a586784ed662},
      {"hub", bench::Hub(3000), false, 0x4d5eba4bf9c7883c, 0x851ae119f4869f8b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PBF f = bench::Build(c.workload);
    if (c.reduced) f.ReduceHigher();
    for (const Lookup lookup : {Lookup::kOccurrences, Lookup::kHashed}) {
      EXPECT_EQ(bench::Checksum(Written(QuadratizeMethod::kFewest, lookup, f)), c.fewest);
      EXPECT_EQ(bench::Checksum(Written(QuadratizeMethod::kGrouped, lookup, f)), c.grouped);
    }
  }
  const uint64_t joined[] = {0xcf70735ed69fa757, 0xe6874a96877cc3fe};
  for (size_t m = 0; m < 2; ++m) {
    std::string all;
    for (uint64_t seed = 0; seed < 300; ++seed) {
      all += Written(kAcrossTerms[m], Lookup::kOccurrences, SharedPairFunction(seed)) + "\n";
    }
    EXPECT_EQ(bench::Checksum(all), joined[m]) << Name(kAcrossTerms[m]);
  }
}

TEST(FourVariableForm, FindsAProvenFormForSmallCoefficients) {
  std::mt19937 rng(4);
  for (int rep = 0; rep < 20000; ++rep) {
    const int32_t range = rep % 3 == 0 ? 3 : rep % 3 == 1 ? 100 : 1 << 20;
    std::uniform_int_distribution<int64_t> coef(-range, range);
    const int64_t quartic = coef(rng);
    const std::array<int64_t, 4> cubic = {coef(rng), coef(rng), coef(rng), coef(rng)};
    const std::optional<FourVariableForm> form = FindFourVariableForm(quartic, cubic);
    ASSERT_TRUE(form) << quartic << " " << cubic[0] << " " << cubic[1] << " " << cubic[2] << " "
                      << cubic[3];
    for (uint32_t x = 0; x < 16; ++x) {
      const auto bit = [&](int i) { return int64_t{x >> i & 1}; };
      int64_t g = quartic * bit(0) * bit(1) * bit(2) * bit(3);
      for (int i = 0; i < 4; ++i) {
        int64_t product = cubic[static_cast<size_t>(i)];
        for (int j = 0; j < 4; ++j) product *= j == i ? 1 : bit(j);
        g += product;
      }
      int64_t q = form->constant;
      int64_t l = form->auxiliary;
      for (int i = 0; i < 4; ++i) {
        q += form->unary[static_cast<size_t>(i)] * bit(i);
        l += form->auxiliary_pairs[static_cast<size_t>(i)] * bit(i);
      }
      const int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
      for (int p = 0; p < 6; ++p)
        q += form->pairs[static_cast<size_t>(p)] * bit(pairs[p][0]) * bit(pairs[p][1]);
      ASSERT_EQ(q + std::min<int64_t>(0, l), g) << "x = " << x;
    }
  }
  EXPECT_FALSE(FindFourVariableForm(int64_t{1} << 41, {0, 0, 0, 0}));
}

// The image grid of the benchmark: one 2×2 window per clique table, whose cubic terms lie in no
// other window, so every window is one group of kFewest (bench/RESULTS.md has the larger grids).
TEST(Quadratize, GridWindowsNeedOneAuxiliaryWithFewest) {
  for (const int32_t width : {128}) {
    SCOPED_TRACE(width);
    const PBF f = bench::Build(bench::Grid(width));
    const int64_t windows = int64_t{width - 1} * (width - 1);
    int64_t fallbacks = 0;
    for (int32_t r = 0; r + 1 < width; ++r) {
      for (int32_t c = 0; c + 1 < width; ++c) {
        const int32_t top = r * width + c;
        const Ids x = {top, top + 1, top + width, top + width + 1};
        const auto coef = [&](const Ids& ids) -> int64_t {
          const int32_t t = f.terms.FindTerm(static_cast<int32_t>(ids.size()), ids.data());
          return t < 0 ? 0
                       : f.terms.Table(static_cast<int32_t>(ids.size()))
                             .coefs[static_cast<size_t>(t)];
        };
        std::array<int64_t, 4> cubic;
        for (size_t i = 0; i < 4; ++i) {
          Ids rest = x;
          rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
          cubic[i] = coef(rest);
        }
        if (!FindFourVariableForm(coef(x), cubic)) ++fallbacks;
      }
    }
    EXPECT_EQ(fallbacks, 0);

    PBF termwise;
    const int32_t next = f.ToQuadratic(termwise, 0);
    int64_t aux[3];
    for (const QuadratizeMethod method : kMethods) {
      PBF q;
      ASSERT_FALSE(Quadratize(f, method, 0, q));
      aux[static_cast<int>(method)] = q.MaxId() - f.MaxId();
    }
    EXPECT_EQ(aux[0], next - (f.MaxId() + 1));
    EXPECT_LE(aux[1], windows);
    // About 5.8 per window: two levels of shared auxiliaries and one per negative part.
    EXPECT_LE(aux[2], 6 * windows);
  }
}

}  // namespace
}  // namespace pbf
