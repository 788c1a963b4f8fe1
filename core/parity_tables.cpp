// Built by doubling: the numbers of odd parity in [a, 2a) are those of even parity in [0, a) with
// the bit a added, and vice versa, so both lists follow from their own first halves without
// counting bits. Grown lists are built aside and swapped in whole.
#include "parity_tables.h"

#include <cstddef>

namespace pbf {
namespace {

ParityTables shared;

}  // namespace

const ParityTables& SharedParityTables() { return shared; }

void EnsureParityTables(int32_t d) {
  if (shared.built_degree >= d) return;
  const size_t n = size_t{1} << (d - 1);
  std::vector<int32_t> even(n + 1);
  std::vector<int32_t> odd(n + 1);
  even[0] = 0;
  odd[0] = 1;
  size_t a = 1;  // the largest power of two not above x
  for (size_t x = 1; x <= n; ++x) {
    if (x == 2 * a) a = x;
    odd[x] = even[x - a] + static_cast<int32_t>(2 * a);
    even[x] = odd[x - a] + static_cast<int32_t>(2 * a);
  }
  shared.even.swap(even);
  shared.odd.swap(odd);
  shared.built_degree = d;
}

}  // namespace pbf
