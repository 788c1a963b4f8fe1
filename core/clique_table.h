// Helpers for clique value tables, shared by the single and the bulk clique edits.
//
// The Moebius inversion coef(s) = sum over m within s of (-1)^|s xor m| * vals[m] is evaluated as
// an in-place subset transform in O(n * 2^n) instead of the O(4^n) double sum; both give the same
// sums modulo 2^32, which is why the values are uint32_t here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace pbf {

// In place over c[0 .. size), size a power of two: a value per assignment -> the coefficient of
// each subset's product.
inline void MoebiusTransform(uint32_t* c, size_t size) {
  for (size_t bit = 1; bit < size; bit <<= 1) {
    for (size_t block = 0; block < size; block += 2 * bit) {
      uint32_t* low = c + block;
      uint32_t* high = low + bit;
      for (size_t k = 0; k < bit; ++k) high[k] -= low[k];
    }
  }
}

// Whether the n ids of a clique are pairwise distinct: then its subsets are distinct terms, and
// none of them can merge into another one of the same clique.
inline bool Distinct(const int32_t* ids, int32_t n) {
  for (int32_t p = 1; p < n; ++p) {
    if (std::find(ids, ids + p, ids[p]) != ids + p) return false;
  }
  return true;
}

}  // namespace pbf
