// Roof duality of a quadratic PBF: its unary table summed into 64-bit coefficients, its pairwise
// table read in place, and the solver of roof_dual_solver.cpp.
//
// The solver needs the terms on one pair of variables merged when their signs differ. The store
// holds each ordered pair once, so only a term (i, j) with i > j can have a twin (j, i); it is
// looked up through the occurrence lists, which costs nothing for the usual ascending pairs. Only
// when a twin of the other sign exists are the coefficients copied (8 bytes per pair) and merged.
// Cost: O(terms) besides the solve.
#include "roof_duality.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "roof_dual_solver.h"

namespace pbf {
namespace {

// The index of the term (j, i) when term t of the pairwise table is (i, j) with i > j, or -1.
int32_t AscendingTwin(const PBF& q, int32_t t) {
  const int32_t* ids = q.terms.Table(2).Ids(t);
  if (ids[0] <= ids[1]) return -1;
  const int32_t twin[2] = {ids[1], ids[0]};
  return q.terms.FindTerm(2, twin);
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

}  // namespace

RoofDual RoofDuality(const PBF& q) {
  const TermTable& pairs = q.terms.Table(2);
  bool opposite_twins = false;
  for (int32_t t = 0; t < pairs.Size() && !opposite_twins; ++t) {
    const int32_t a = pairs.coefs[static_cast<size_t>(t)];
    if (a == 0) continue;
    const int32_t twin = AscendingTwin(q, t);
    opposite_twins = twin >= 0 && (pairs.coefs[static_cast<size_t>(twin)] < 0) != (a < 0);
  }
  if (!opposite_twins) return SolveRoofDual(Arrays<int32_t>(q, pairs.coefs.data()));
  std::vector<int64_t> merged(pairs.coefs.begin(), pairs.coefs.end());
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int32_t twin = AscendingTwin(q, t);
    if (twin < 0) continue;
    merged[static_cast<size_t>(twin)] += merged[static_cast<size_t>(t)];
    merged[static_cast<size_t>(t)] = 0;
  }
  return SolveRoofDual(Arrays<int64_t>(q, merged.data()));
}

}  // namespace pbf
