// The subset transform over bit masks, shared by the exact search's tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbf {

// Turns v[0 .. 2^bits), one value per mask, into v[i] = the combination of the old v[s] over every
// s within i (s AND NOT i = 0): bits * 2^(bits-1) calls of combine(high, low) instead of 3^bits.
// `combine` must be associative and commutative (a wrapping sum, a union), so that the grouping
// cannot change a result. Each half-block is one contiguous run, which the compiler vectorises.
template <typename T, typename Combine>
void CombineOverSubmasks(T* v, int32_t bits, Combine combine) {
  const size_t n = size_t{1} << bits;
  for (size_t step = 1; step < n; step <<= 1) {
    for (size_t base = 0; base < n; base += 2 * step) {
      T* high = v + base + step;
      const T* low = v + base;
      for (size_t y = 0; y < step; ++y) high[y] = combine(high[y], low[y]);
    }
  }
}

}  // namespace pbf
