// Energy tables: unary, pairwise and clique value tables turned into polynomial terms.
//
// A clique table of n variables is turned into coefficients by the Moebius inversion
// coef(s) = sum over m within s of (-1)^|s xor m| * vals[m], evaluated as an in-place subset
// transform in O(n * 2^n) instead of the O(4^n) double sum; both give the same sums modulo 2^32.
// Every form reserves room for all the terms it may create before its first addition, so a
// failed allocation leaves the function unchanged.
#include <bit>
#include <cstddef>
#include <vector>

#include "pbf.h"
#include "wrap.h"

namespace pbf {
namespace {

// In place: a value per assignment -> the coefficient of each subset's product.
void MoebiusTransform(std::vector<uint32_t>& c) {
  const size_t size = c.size();
  for (size_t bit = 1; bit < size; bit <<= 1) {
    for (size_t block = 0; block < size; block += 2 * bit) {
      uint32_t* low = c.data() + block;
      uint32_t* high = low + bit;
      for (size_t k = 0; k < bit; ++k) high[k] -= low[k];
    }
  }
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
  MoebiusTransform(coef);

  // Variable number p of `vars` is bit n-1-p of a subset mask.
  size_t per_position[32] = {};
  size_t per_degree[33] = {};
  for (size_t s = 1; s < size; ++s) {
    if (coef[s] == 0) continue;
    ++per_degree[std::popcount(s)];
    for (int32_t p = 0; p < n; ++p) per_position[p] += (s >> (n - 1 - p)) & 1;
  }
  terms.ReserveAppends(vars, per_position, n, per_degree, n + 1);

  int32_t ids[32];
  for (size_t s = 0; s < size; ++s) {
    if (coef[s] == 0) continue;
    int32_t degree = 0;
    for (int32_t p = 0; p < n; ++p) {
      if ((s >> (n - 1 - p)) & 1) ids[degree++] = vars[p];
    }
    AddTerm(static_cast<int32_t>(coef[s]), degree, ids);
  }
}

}  // namespace pbf
