#include "value_table.h"

#include <algorithm>
#include <cstddef>

#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {
namespace {

int32_t value_table[size_t{1} << kMaxFreeVariables];

// Each half-block is one contiguous run, which the compiler vectorises.
void SubsetSums(int32_t bits) {
  const uint32_t n = 1u << bits;
  int32_t* v = value_table;
  for (uint32_t step = 1; step < n; step <<= 1) {
    for (uint32_t base = 0; base < n; base += 2 * step) {
      int32_t* high = v + base + step;
      const int32_t* low = v + base;
      for (uint32_t y = 0; y < step; ++y) high[y] = WrapAdd(high[y], low[y]);
    }
  }
}

}  // namespace

int32_t* ValueTable() { return value_table; }

void SumSubsetsAndWiden(int32_t bits, LocalFunction::Extremes& extremes) {
  SubsetSums(bits);
  const uint32_t n = 1u << bits;
  for (uint32_t y = 0; y < n; ++y) {
    extremes.largest = std::max(extremes.largest, value_table[y]);
    extremes.smallest = std::min(extremes.smallest, value_table[y]);
  }
}

}  // namespace pbf
