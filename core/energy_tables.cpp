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
#include "pbf.h"
#include "wrap.h"

namespace pbf {
namespace {

// The term of this degree with exactly these ids among the first `limit` entries of the
// occurrence list of `var` (one of the ids), or -1.
int32_t FindEarlierTerm(const TermStore& terms, int32_t degree, const int32_t* ids, int32_t var,
                        size_t limit) {
  const OccurrenceList& list = terms.occurrences[static_cast<size_t>(var)];
  for (size_t e = 0; e < limit; ++e) {
    const Occurrence& occ = list[e];
    if (occ.degree == degree && SameIds(ids, terms.Table(degree).Ids(occ.index), degree)) {
      return occ.index;
    }
  }
  return -1;
}

}  // namespace

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
  // Repeated edits of one pair find all three terms: then nothing is appended, nothing can fail,
  // and no room needs to be made.
  const int32_t pair[2] = {i, j};
  const int32_t unary_i = terms.FindTerm(1, &i);
  const int32_t unary_j = terms.FindTerm(1, &j);
  const int32_t pairwise = terms.FindTerm(2, pair);
  if (unary_i >= 0 && unary_j >= 0 && pairwise >= 0) {
    std::vector<int32_t>& unary = terms.Table(1).coefs;
    std::vector<int32_t>& pairs = terms.Table(2).coefs;
    constant = WrapAdd(constant, e00);
    unary[static_cast<size_t>(unary_i)] = WrapAdd(unary[static_cast<size_t>(unary_i)], WrapSub(e10, e00));
    unary[static_cast<size_t>(unary_j)] = WrapAdd(unary[static_cast<size_t>(unary_j)], WrapSub(e01, e00));
    pairs[static_cast<size_t>(pairwise)] =
        WrapAdd(pairs[static_cast<size_t>(pairwise)], WrapAdd(WrapSub(WrapSub(e00, e01), e10), e11));
    return;
  }
  const int32_t ids[4] = {i, j, i, j};
  const size_t count[4] = {1, 1, 1, 1};
  const size_t per_degree[3] = {0, 2, 1};
  terms.ReserveAppends(ids, count, 4, per_degree, 3);
  constant = WrapAdd(constant, e00);
  terms.AddUnary(WrapSub(e10, e00), i);
  terms.AddUnary(WrapSub(e01, e00), j);
  terms.AddPairwise(WrapAdd(WrapSub(WrapSub(e00, e01), e10), e11), i, j);
}

void PBF::AddHigherTerm(int32_t cliquesize, const int32_t* vars, const int32_t* vals) {
  const int32_t n = cliquesize;
  const size_t size = size_t{1} << n;
  std::vector<uint32_t> coef(vals, vals + size);
  MoebiusTransform(coef.data(), size);

  // Variable number p of `vars` is bit n-1-p of a subset mask.
  size_t per_position[32] = {};
  size_t per_degree[33] = {};
  for (size_t s = 1; s < size; ++s) {
    if (coef[s] == 0) continue;
    int32_t degree = 0;
    for (size_t rest = s; rest != 0; rest &= rest - 1, ++degree) {
      ++per_position[n - 1 - std::countr_zero(rest)];
    }
    ++per_degree[degree];
  }
  terms.ReserveAppends(vars, per_position, n, per_degree, n + 1);

  // With distinct ids the subsets are distinct id lists, so a subset can only merge into a term
  // that existed before this call, and such a term is listed within the first known[p] entries of
  // the list of each of its variables. Scanning only those prefixes finds what AddTerm would find
  // without rescanning the clique's own new terms, which would be quadratic in 2^n.
  const bool distinct = Distinct(vars, n);
  size_t known[32];
  for (int32_t p = 0; p < n; ++p) {
    const auto id = static_cast<size_t>(vars[p]);
    known[p] = id < terms.occurrences.size() ? terms.occurrences[id].size() : 0;
  }
  int32_t ids[32];
  for (size_t s = 0; s < size; ++s) {
    if (coef[s] == 0) continue;
    const auto c = static_cast<int32_t>(coef[s]);
    int32_t degree = 0;
    int32_t shortest = -1;
    for (int32_t p = 0; p < n; ++p) {
      if (((s >> (n - 1 - p)) & 1) == 0) continue;
      ids[degree++] = vars[p];
      if (shortest < 0 || known[p] < known[shortest]) shortest = p;
    }
    if (degree == 0) {
      constant = WrapAdd(constant, c);
      continue;
    }
    const int32_t found = distinct ? FindEarlierTerm(terms, degree, ids, vars[shortest], known[shortest])
                                   : terms.FindTerm(degree, ids);
    if (found >= 0) {
      int32_t& stored = terms.Table(degree).coefs[static_cast<size_t>(found)];
      stored = WrapAdd(stored, c);
    } else {
      terms.AppendTerm(c, degree, ids);  // into the room made above
    }
  }
}

}  // namespace pbf
