// The optimised operations against their literal versions (tests/oracles) on small instances of
// every benchmark workload, so that each workload kind's shape is covered: grids (many reductions
// and the search's early proofs), random monomials, a hub, a dense clique. Hub(300) and Clique(9)
// have occurrence lists long enough for the exact reduction to scan their heads first. Coefficients
// are also scaled up until sums wrap, where the search must fall back to full enumeration.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "literal_energy.h"
#include "literal_reduce.h"
#include "literal_store.h"
#include "pbf.h"
#include "test_util.h"
#include "workloads.h"
#include "wrap.h"

namespace pbf {
namespace {

using bench::Workload;

std::vector<Workload> SmallWorkloads() {
  return {bench::Grid(6),       bench::Grid(11),  bench::Pubo(12, 30), bench::Pubo(16, 60),
          bench::Pubo(40, 200), bench::Hub(9),    bench::Hub(40),      bench::Hub(300),
          bench::Clique(5),     bench::Clique(7), bench::Clique(9)};
}

// Every number of the tables multiplied by `factor` (wrapping), ids untouched.
Workload Scaled(Workload w, int32_t factor) {
  for (size_t k = 0; k < w.unary.size(); k += 3) {
    w.unary[k + 1] = WrapMul(w.unary[k + 1], factor);
    w.unary[k + 2] = WrapMul(w.unary[k + 2], factor);
  }
  for (int32_t& v : w.clique_vals) v = WrapMul(v, factor);
  for (int32_t& c : w.mono_coef) c = WrapMul(c, factor);
  w.name.append(" times ").append(std::to_string(factor));
  return w;
}

// The workload built with the literal clique transform.
PBF BuildLiterally(const Workload& w) {
  PBF f;
  bench::Build(w, f, literal::AddHigherTerm);
  return f;
}

TEST(Differential, BuildingMatchesTheLiteralCliqueTransform) {
  for (const Workload& base : SmallWorkloads()) {
    for (const int32_t factor : {1, 1 << 26}) {
      const Workload w = Scaled(base, factor);
      const PBF f = bench::Build(w);
      testing::ExpectInvariants(f);
      EXPECT_EQ(f.GetString(), BuildLiterally(w).GetString()) << w.name;
    }
  }
}

TEST(Differential, ReduceHigherMatchesTheLiteralSearch) {
  for (const Workload& base : SmallWorkloads()) {
    for (const int32_t factor : {1, 3, 1 << 26}) {
      const Workload w = Scaled(base, factor);
      PBF f = bench::Build(w);
      PBF g = f;
      f.ReduceHigher();
      literal::ReduceHigher(g);
      testing::ExpectInvariants(f);
      ASSERT_EQ(f.GetString(), g.GetString()) << w.name;
      // A second pass starts from a function that the first one changed.
      f.ReduceHigher();
      literal::ReduceHigher(g);
      ASSERT_EQ(f.GetString(), g.GetString()) << w.name << " second pass";
    }
  }
}

// Random edits on few variables, so that terms merge often: energy tables of every size with
// distinct, repeated and unordered ids, plain terms, and conversions into targets that already
// hold terms, against the literal store after every step.
TEST(Differential, EditsAndConversionsMatchTheLiteralStore) {
  std::mt19937 rng(41);
  const auto below = [&](uint32_t n) { return static_cast<int32_t>(rng() % n); };
  for (int rep = 0; rep < 60; ++rep) {
    PBF f;
    literal::Function model;
    const int32_t vars = 3 + rep % 8;
    const int32_t range = rep % 5 == 0 ? 2 : 9;  // small: many zero coefficients
    const auto value = [&] { return below(2 * range + 1) - range; };
    for (int step = 0; step < 40; ++step) {
      const int32_t kind = below(5);
      if (kind == 0) {
        const int32_t i = below(vars), e0 = value(), e1 = value();
        f.AddUnaryTerm(i, e0, e1);
        model.AddUnaryTerm(i, e0, e1);
      } else if (kind == 1) {
        const int32_t i = below(vars), j = below(vars);
        const int32_t e[4] = {value(), value(), value(), value()};
        f.AddPairwiseTerm(i, j, e[0], e[1], e[2], e[3]);
        model.AddPairwiseTerm(i, j, e[0], e[1], e[2], e[3]);
      } else if (kind == 2 || kind == 3) {
        const int32_t n = below(static_cast<uint32_t>(std::min(vars, 6) + 1));
        std::vector<int32_t> ids(static_cast<size_t>(n));
        for (int32_t& id : ids) id = below(vars);
        if (kind == 3) {  // distinct, ascending or not
          std::vector<int32_t> pool(static_cast<size_t>(vars));
          for (int32_t v = 0; v < vars; ++v) pool[static_cast<size_t>(v)] = v;
          std::shuffle(pool.begin(), pool.end(), rng);
          ids.assign(pool.begin(), pool.begin() + n);
          if (rng() % 2) std::sort(ids.begin(), ids.end());
        }
        std::vector<int32_t> vals(size_t{1} << n);
        for (int32_t& v : vals) v = rng() % 3 ? 0 : value();
        f.AddHigherTerm(n, ids.data(), vals.data());
        model.AddHigherTerm(n, ids.data(), vals.data());
      } else {
        std::vector<int32_t> ids(static_cast<size_t>(1 + below(4)));
        for (int32_t& id : ids) id = below(vars);
        const int32_t c = value();
        f.AddTerm(c, static_cast<int32_t>(ids.size()), ids.data());
        model.AddTerm(c, ids);
      }
      ASSERT_EQ(f.GetString(), model.GetString()) << "rep " << rep << " step " << step;
    }
    testing::ExpectInvariants(f);

    PBF q;
    literal::Function quadratic;
    if (rep % 2) {  // a target that already holds terms
      q.AddPairwiseTerm(0, 1, 1, 2, 3, 4);
      quadratic.AddPairwiseTerm(0, 1, 1, 2, 3, 4);
    }
    const int32_t newvar = rep % 3 == 0 ? vars + 5 : 0;
    ASSERT_EQ(f.ToQuadratic(q, newvar), model.ToQuadratic(quadratic, newvar));
    ASSERT_EQ(q.GetString(), quadratic.GetString()) << "rep " << rep;
    testing::ExpectInvariants(q);
  }
}

TEST(Differential, WorkloadsConvertLikeTheLiteralStore) {
  for (const Workload& w : SmallWorkloads()) {
    const PBF f = bench::Build(w);
    literal::Function model;
    for (size_t d = 1; d < f.terms.tables.size(); ++d) {
      if (!f.terms.tables[d]) continue;
      model.terms.resize(std::max(model.terms.size(), d + 1));
      for (int32_t t = 0; t < f.terms.tables[d]->Size(); ++t) {
        const int32_t* ids = f.terms.tables[d]->Ids(t);
        model.terms[d].emplace_back(std::vector<int32_t>(ids, ids + d),
                                    f.terms.tables[d]->coefs[static_cast<size_t>(t)]);
      }
    }
    model.constant = f.constant;
    ASSERT_EQ(f.GetString(), model.GetString()) << w.name;
    PBF q;
    literal::Function quadratic;
    ASSERT_EQ(f.ToQuadratic(q, 0), model.ToQuadratic(quadratic, 0)) << w.name;
    ASSERT_EQ(q.GetString(), quadratic.GetString()) << w.name;
    testing::ExpectInvariants(q);
  }
}

}  // namespace
}  // namespace pbf
