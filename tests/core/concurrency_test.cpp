// Different functions reduced, converted and minimised by several threads at once give what one
// thread gives, while the shared parity tables keep growing. Built on its own so that a
// ThreadSanitizer build (scripts/test.sh) can run it, where any shared scratch would show up as a
// data race.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
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

TEST(Concurrency, ThreadsOnDifferentFunctionsGetWhatOneThreadGets) {
  const std::vector<PBF> functions = Functions();
  std::vector<Results> expected;
  for (const PBF& f : functions) expected.push_back(Transformed(f));

  constexpr int kThreads = 4;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    // Each thread goes through every function, starting at a different one, so that different
    // functions run at the same time.
    threads.emplace_back([&, k] {
      for (size_t step = 0; step < functions.size(); ++step) {
        const size_t at = (step + static_cast<size_t>(k) * 2) % functions.size();
        const Results got = Transformed(functions[at]);
        if (got.exact != expected[at].exact || got.approx != expected[at].approx ||
            got.quadratic != expected[at].quadratic) {
          ++mismatches;
        }
      }
    });
  }
  // Meanwhile the parity tables grow past anything the functions need.
  threads.emplace_back([&] {
    for (int32_t d = 1; d <= 16; ++d) {
      if (EnsureParityTables(d)->built_degree < d) ++mismatches;
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
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

  constexpr int kThreads = 3;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      for (size_t step = 0; step < functions.size(); ++step) {
        const size_t at = (step + static_cast<size_t>(k) * 3) % functions.size();
        if (!same(Minimize(functions[at], options(at)), expected[at])) ++mismatches;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// Many threads asking for growing degrees at once all get tables that cover their degree, and
// the tables published last cover the largest.
TEST(Concurrency, ParityTablesGrowFromSeveralThreadsAtOnce) {
  constexpr int kThreads = 6;
  std::atomic<int> short_tables{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      for (int32_t d = 1; d <= 14; ++d) {
        const int32_t want = (d + k) % 14 + 1;
        const std::shared_ptr<const ParityTables> tables = EnsureParityTables(want);
        const size_t entries = (size_t{1} << (tables->built_degree - 1)) + 1;
        if (tables->built_degree < want || tables->even.size() != entries ||
            tables->odd.size() != entries) {
          ++short_tables;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(short_tables.load(), 0);
  EXPECT_GE(SharedParityTables()->built_degree, 14);
}

}  // namespace
}  // namespace pbf
