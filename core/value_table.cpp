#include "value_table.h"

#include <algorithm>
#include <cstddef>

#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {
namespace {

int32_t value_table[size_t{1} << kMaxFreeVariables];

// The three lowest bits are done eight entries at a time; above them each half-block is one
// contiguous run, which the compiler vectorises.
void SubsetSums(int32_t bits) {
  const uint32_t n = 1u << bits;
  int32_t* v = value_table;
  uint32_t step = 1;
  if (n >= 8) {
    for (uint32_t b = 0; b < n; b += 8) {
      int32_t* w = v + b;
      const auto add = [w](uint32_t to, uint32_t from) { w[to] = WrapAdd(w[to], w[from]); };
      // One row per butterfly stage.
      // clang-format off
      add(1, 0); add(3, 2); add(5, 4); add(7, 6);
      add(2, 0); add(3, 1); add(6, 4); add(7, 5);
      add(4, 0); add(5, 1); add(6, 2); add(7, 3);
      // clang-format on
    }
    step = 8;
  }
  for (; step < n; step <<= 1) {
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
