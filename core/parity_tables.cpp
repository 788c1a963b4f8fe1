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
  const int32_t n = int32_t{1} << (d - 1);
  std::vector<int32_t> even(static_cast<size_t>(n) + 1);
  std::vector<int32_t> odd(static_cast<size_t>(n) + 1);
  even[0] = 0;
  odd[0] = 1;
  int32_t a = 1;  // the largest power of two not above x
  for (int32_t x = 1; x <= n; ++x) {
    if (x == 2 * a) a = x;
    odd[static_cast<size_t>(x)] = even[static_cast<size_t>(x - a)] + 2 * a;
    even[static_cast<size_t>(x)] = odd[static_cast<size_t>(x - a)] + 2 * a;
  }
  shared.even.swap(even);
  shared.odd.swap(odd);
  shared.built_degree = d;
}

}  // namespace pbf
