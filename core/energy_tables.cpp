// Energy tables: unary, pairwise and clique value tables turned into polynomial terms.
//
// A clique table of n variables is turned into coefficients by the Moebius inversion
// (clique_table.h). Every form reserves room for all the terms it may create before its first
// addition, so a failed allocation leaves the function unchanged.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <vector>

#include "clique_table.h"
#include "id_lists.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {

void PBF::AddTerm(int32_t coef, int32_t degree, const int32_t* ids) {
  if (degree == 0) {
    constant = WrapAdd(constant, coef);
  } else {
    terms.AddTerm(coef, degree, ids);
  }
}

void PBF::AddUnaryTerm(int32_t i, int32_t e0, int32_t e1) {
  terms.AddUnary(WrapSub(e1, e0), i);  // the only step that can fail goes first
  constant = WrapAdd(constant, e0);
}

void PBF::AddPairwiseTerm(int32_t i, int32_t j, int32_t e00, int32_t e01, int32_t e10,
                          int32_t e11) {
  const int32_t pair_coef = WrapAdd(WrapSub(WrapSub(e00, e01), e10), e11);
  // Repeated edits of one pair find all three terms: then nothing is appended, nothing can fail,
  // and no room needs to be made. Such an edit takes 11 ns instead of 32 ns through the plan and
  // the three additions below (bench/RESULTS.md, "Speed tricks").
  const int32_t pair[2] = {i, j};
  const int32_t unary_i = terms.FindTerm(1, &i);
  const int32_t unary_j = terms.FindTerm(1, &j);
  const int32_t pairwise = terms.FindTerm(2, pair);
  if (unary_i >= 0 && unary_j >= 0 && pairwise >= 0) {
    constant = WrapAdd(constant, e00);
    terms.Table(1).AddToCoef(unary_i, WrapSub(e10, e00));
    terms.Table(1).AddToCoef(unary_j, WrapSub(e01, e00));
    terms.Table(2).AddToCoef(pairwise, pair_coef);
    return;
  }
  const int32_t ids[4] = {i, j, i, j};
  const size_t per_degree[3] = {0, 2, 1};
  terms.ReserveAppends({ids, {}, per_degree});
  constant = WrapAdd(constant, e00);
  terms.AddUnary(WrapSub(e10, e00), i);
  terms.AddUnary(WrapSub(e01, e00), j);
  terms.AddPairwise(pair_coef, i, j);
}

void PBF::AddHigherTerm(int32_t cliquesize, const int32_t* vars, const int32_t* vals) {
  const int32_t n = cliquesize;
  const size_t size = size_t{1} << n;
  std::vector<uint32_t> coef(vals, vals + size);
  MoebiusTransform(coef.data(), size);

  // Variable number p of `vars` is bit n-1-p of a subset mask.
  size_t per_position[kMaxCliqueSize] = {};
  size_t per_degree[kMaxCliqueSize + 1] = {};
  for (size_t s = 1; s < size; ++s) {
    if (coef[s] == 0) continue;
    int32_t degree = 0;
    for (size_t rest = s; rest != 0; rest &= rest - 1, ++degree) {
      ++per_position[n - 1 - std::countr_zero(rest)];
    }
    ++per_degree[degree];
  }
  const auto positions = static_cast<size_t>(n);
  terms.ReserveAppends({{vars, positions}, {per_position, positions}, {per_degree, positions + 1}});

  // With distinct ids the subsets are distinct id lists, so a subset can only merge into a term
  // that existed before this call, and such a term is listed within the first known[p] entries of
  // the list of each of its variables. Scanning only those prefixes finds what AddTerm would find
  // without rescanning the clique's own new terms, which would be quadratic in 2^n.
  const bool distinct = Distinct(vars, n);
  size_t known[kMaxCliqueSize];
  for (int32_t p = 0; p < n; ++p) {
    known[p] = terms.HasList(vars[p]) ? terms.OccurrencesOf(vars[p]).size() : 0;
  }
  int32_t ids[kMaxCliqueSize];
  for (size_t s = 0; s < size; ++s) {
    if (coef[s] == 0) continue;
    const auto c = static_cast<int32_t>(coef[s]);
    const auto subset = static_cast<uint32_t>(s);
    const int32_t degree = SubsetIds(vars, n, subset, ids);
    if (degree == 0) {
      constant = WrapAdd(constant, c);
      continue;
    }
    int32_t found;
    if (distinct) {
      // The subset's variable whose list was shortest (the first of equals).
      int32_t shortest = -1;
      for (uint32_t rest = subset; rest != 0; rest &= rest - 1) {
        const int32_t p = n - 1 - std::countr_zero(rest);
        if (shortest < 0 || known[p] <= known[shortest]) shortest = p;
      }
      found = terms.FindTermIn(terms.OccurrencesOf(vars[shortest]), known[shortest], degree, ids);
    } else {
      found = terms.FindTerm(degree, ids);
    }
    terms.MergeOrAppend(found, c, degree, ids);  // appends into the room made above
  }
}

}  // namespace pbf
