// The clique table form written the slow, obvious way: every coefficient by the defining double
// sum over all 2^n x 2^n pairs of masks (O(4^n)), then one AddTerm per non-zero subset in
// ascending mask order. A reference for differential tests and the baseline of the benchmarks.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "pbf.h"
#include "wrap.h"

namespace pbf::literal {

inline void AddHigherTerm(PBF& f, int32_t n, const int32_t* vars, const int32_t* vals) {
  const uint32_t size = uint32_t{1} << n;
  std::vector<int32_t> coef(size);
  for (uint32_t s = 0; s < size; ++s) {
    int32_t sum = 0;
    for (uint32_t m = 0; m < size; ++m) {
      if (m & ~s) continue;
      sum = std::popcount(s ^ m) % 2 ? WrapSub(sum, vals[m]) : WrapAdd(sum, vals[m]);
    }
    coef[s] = sum;
  }
  for (uint32_t s = 0; s < size; ++s) {
    if (coef[s] == 0) continue;
    std::vector<int32_t> ids;
    for (int32_t p = 0; p < n; ++p) {
      if ((s >> (n - 1 - p)) & 1) ids.push_back(vars[p]);
    }
    f.AddTerm(coef[s], static_cast<int32_t>(ids.size()), ids.data());
  }
}

}  // namespace pbf::literal
