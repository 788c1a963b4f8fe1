// Different functions reduced, converted and minimised by several threads at once give what one
// thread gives, while the shared parity tables keep growing. Built on its own so that a
// ThreadSanitizer build (scripts/test.sh) can run it, where any shared scratch would show up as a
// data race.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "minimize.h"
#include "parity_tables.h"
#include "pbf.h"
#include "test_util.h"
#include "workloads.h"

namespace pbf {
namespace {

// The text of f after each operation, each on its own copy.
struct Results {
  std::string exact;
  std::string approx;
  std::string quadratic;
};

Results Transformed(const PBF& f) {
  Results r;
  PBF exact = f;
  exact.ReduceHigher();
  r.exact = exact.GetString();
  PBF approx = f;
  approx.ReduceHigherApprox();
  r.approx = approx.GetString();
  PBF quadratic;
  f.ToQuadratic(quadratic, 0);
  r.quadratic = quadratic.GetString();
  return r;
}

// Functions of every shape the reductions treat differently: grids (the exact search and its
// proof), random monomials with long lists (the approximate reduction's index), a hub, a dense
// clique, and random small functions of degree up to 6.
std::vector<PBF> Functions() {
  std::vector<PBF> all = {bench::Build(bench::Grid(8)), bench::Build(bench::Pubo(30, 600)),
                          bench::Build(bench::Hub(300)), bench::Build(bench::Clique(6))};
  std::mt19937 rng(61);
  for (int n = 0; n < 4; ++n) all.push_back(testing::RandomFunction(rng, 12, 50, 6, 9));
  return all;
}

// `threads` threads each go through every one of `count` items, starting at a different one, so
// that different items run at the same time, while `alongside` (if any) runs on a thread of its
// own. Returns the number of items where `matches` failed, and the failures `alongside` counted.
int MismatchesOnThreads(int threads, size_t count, const std::function<bool(size_t)>& matches,
                        const std::function<int()>& alongside = {}) {
  std::atomic<int> mismatches{0};
  std::vector<std::thread> running;
  for (int k = 0; k < threads; ++k) {
    running.emplace_back([&, k] {
      for (size_t step = 0; step < count; ++step) {
        if (!matches((step + static_cast<size_t>(k) * 2) % count)) ++mismatches;
      }
    });
  }
  if (alongside) running.emplace_back([&] { mismatches += alongside(); });
  for (std::thread& t : running) t.join();
  return mismatches.load();
}

TEST(Concurrency, ThreadsOnDifferentFunctionsGetWhatOneThreadGets) {
  const std::vector<PBF> functions = Functions();
  std::vector<Results> expected;
  for (const PBF& f : functions) expected.push_back(Transformed(f));
  const auto matches = [&](size_t at) {
    const Results got = Transformed(functions[at]);
    return got.exact == expected[at].exact && got.approx == expected[at].approx &&
           got.quadratic == expected[at].quadratic;
  };
  // Meanwhile the parity tables grow past anything the functions need.
  const auto grow = [] {
    int short_tables = 0;
    for (int32_t d = 1; d <= 16; ++d) short_tables += EnsureParityTables(d)->built_degree < d;
    return short_tables;
  };
  EXPECT_EQ(MismatchesOnThreads(4, functions.size(), matches, grow), 0);
}

// Minimize on small functions of every shape, each rule, with probing and improvement: threads
// running it on different functions at once get the labels, persistency, bound and energy that
// one thread gets. Small, so that the ThreadSanitizer build stays quick.
TEST(Concurrency, MinimizeOnDifferentFunctionsGetsWhatOneThreadGets) {
  std::vector<PBF> functions = {bench::Build(bench::Grid(5)), bench::Build(bench::Pubo(20, 60)),
                                bench::Build(bench::Hub(40)), bench::Build(bench::Clique(5))};
  std::mt19937 rng(62);
  for (int n = 0; n < 4; ++n) functions.push_back(testing::RandomFunction(rng, 10, 30, 5, 20));
  constexpr QuadratizeMethod kMethods[] = {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest,
                                           QuadratizeMethod::kGrouped, QuadratizeMethod::kAuto};
  const auto options = [&](size_t at) {
    MinimizeOptions o;
    o.method = kMethods[at % 4];
    o.probe = at % 2 == 0;
    return o;
  };
  const auto same = [](const Minimum& a, const Minimum& b) {
    return a.labels == b.labels && a.persistent == b.persistent && a.lower_bound == b.lower_bound &&
           a.energy == b.energy && a.unwritable.has_value() == b.unwritable.has_value();
  };
  std::vector<Minimum> expected;
  for (size_t at = 0; at < functions.size(); ++at) {
    expected.push_back(Minimize(functions[at], options(at)));
  }

  const auto matches = [&](size_t at) {
    return same(Minimize(functions[at], options(at)), expected[at]);
  };
  EXPECT_EQ(MismatchesOnThreads(3, functions.size(), matches), 0);
}

// Many threads asking for growing degrees at once all get tables that cover their degree, and
// the tables published last cover the largest.
TEST(Concurrency, ParityTablesGrowFromSeveralThreadsAtOnce) {
  const auto covers = [](size_t at) {
    const int32_t want = static_cast<int32_t>(at) + 1;
    const std::shared_ptr<const ParityTables> tables = EnsureParityTables(want);
    const size_t entries = (size_t{1} << (tables->built_degree - 1)) + 1;
    return tables->built_degree >= want && tables->even.size() == entries &&
           tables->odd.size() == entries;
  };
  EXPECT_EQ(MismatchesOnThreads(6, 14, covers), 0);
  EXPECT_GE(SharedParityTables()->built_degree, 14);
}

}  // namespace
}  // namespace pbf
