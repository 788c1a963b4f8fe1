// The number of set bits of a 32-bit mask, for the reductions' hot loops.
//
// The core is built for generic x86-64, without the POPCNT instruction, so std::popcount becomes
// a call into libgcc (__popcountdi2) that the compiler cannot inline. The search counts bits a
// few times per configuration; the same parallel sum inline is a dozen plain instructions.
#pragma once

#include <cstdint>

namespace pbf {

inline int32_t CountBits(uint32_t x) {
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int32_t>((x * 0x01010101u) >> 24);
}

}  // namespace pbf
