// Roof duality of a quadratic PBF: its unary table summed into 64-bit coefficients, its pairwise
// table read in place, and the solver of roof_dual_solver.cpp.
//
// The solver needs the terms on one pair of variables merged when their signs differ. The store
// holds each ordered pair once, so only a term (i, j) with i > j can have a twin (j, i). Those
// descending pairs (usually none) go into a hash map, one scan of the ascending pairs finds their
// twins, and only when a twin of the other sign exists are the coefficients copied (8 bytes per
// pair) and merged. Occurrence lists are not read, so the caller may have released them. Cost:
// O(terms) besides the solve.
#include "roof_duality.h"

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "roof_dual_solver.h"

namespace pbf {
namespace {

uint64_t PairKey(int32_t i, int32_t j) {
  return (uint64_t{static_cast<uint32_t>(i)} << 32) | static_cast<uint32_t>(j);
}

// (descending term, its ascending twin) for every twin pair with coefficients of opposite signs.
std::vector<std::pair<int32_t, int32_t>> OppositeTwins(const TermTable& pairs) {
  std::unordered_map<uint64_t, int32_t> descending;
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int32_t* ids = pairs.Ids(t);
    if (ids[0] > ids[1]) descending.emplace(PairKey(ids[1], ids[0]), t);
  }
  std::vector<std::pair<int32_t, int32_t>> twins;
  if (descending.empty()) return twins;
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int32_t* ids = pairs.Ids(t);
    if (ids[0] >= ids[1]) continue;
    const auto found = descending.find(PairKey(ids[0], ids[1]));
    if (found == descending.end()) continue;
    const int32_t a = pairs.coefs[static_cast<size_t>(t)];
    const int32_t b = pairs.coefs[static_cast<size_t>(found->second)];
    if ((a < 0 && b > 0) || (a > 0 && b < 0)) twins.emplace_back(found->second, t);
  }
  return twins;
}

template <typename Coef>
QuadraticArrays<Coef> Arrays(const PBF& q, const Coef* pair_coefs) {
  QuadraticArrays<Coef> arrays;
  arrays.constant = q.constant;
  arrays.unary.assign(static_cast<size_t>(q.MaxId() + 1), 0);
  const TermTable& unary = q.terms.Table(1);
  for (int32_t t = 0; t < unary.Size(); ++t) {
    arrays.unary[static_cast<size_t>(unary.vars[static_cast<size_t>(t)])] +=
        unary.coefs[static_cast<size_t>(t)];
  }
  const TermTable& pairs = q.terms.Table(2);
  arrays.pair_ids = pairs.vars.data();
  arrays.pair_coefs = pair_coefs;
  arrays.pairs = pairs.coefs.size();
  return arrays;
}

// Roof duality of q; `release` is called once q is no longer read.
RoofDual Solve(const PBF& q, const std::function<void()>& release, FreePart* part) {
  const TermTable& pairs = q.terms.Table(2);
  const std::vector<std::pair<int32_t, int32_t>> twins = OppositeTwins(pairs);
  if (twins.empty()) return SolveRoofDual(Arrays<int32_t>(q, pairs.coefs.data()), release, part);
  std::vector<int64_t> merged(pairs.coefs.begin(), pairs.coefs.end());
  for (const auto& [descending, ascending] : twins) {
    merged[static_cast<size_t>(ascending)] += merged[static_cast<size_t>(descending)];
    merged[static_cast<size_t>(descending)] = 0;
  }
  const auto release_all = [&] {
    merged = {};
    if (release) release();
  };
  return SolveRoofDual(Arrays<int64_t>(q, merged.data()), release_all, part);
}

}  // namespace

RoofDual RoofDuality(const PBF& q) { return Solve(q, {}, nullptr); }

RoofDual RoofDualityConsuming(PBF&& q, FreePart* part) {
  return Solve(
      q, [&] { q = PBF(); }, part);
}

}  // namespace pbf
