// The subset transform over bit masks, shared by the exact search's tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbf {

// The steps of the subset transform as index pairs: step(high, low) is called wherever
// CombineOverSubmasks combines v[low] into v[high], in the same order. One loop nest can then
// serve several tables, which counts where they are as small as the 2^3 or 2^4 configurations of
// a term. Each half-block is one contiguous run, which the compiler vectorises.
template <typename Step>
void ForEachSubmaskStep(int32_t bits, Step step) {
  const size_t n = size_t{1} << bits;
  for (size_t width = 1; width < n; width <<= 1) {
    for (size_t base = 0; base < n; base += 2 * width) {
      for (size_t y = base; y < base + width; ++y) step(y + width, y);
    }
  }
}

// Turns v[0 .. 2^bits), one value per mask, into v[i] = the combination of the old v[s] over every
// s within i (s AND NOT i = 0): bits * 2^(bits-1) calls of combine(high, low) instead of 3^bits.
// `combine` must be associative and commutative (a wrapping sum, a union), so that the grouping
// cannot change a result.
template <typename T, typename Combine>
void CombineOverSubmasks(T* v, int32_t bits, Combine combine) {
  ForEachSubmaskStep(bits, [v, combine](size_t high, size_t low) {
    v[high] = combine(v[high], v[low]);
  });
}

}  // namespace pbf
