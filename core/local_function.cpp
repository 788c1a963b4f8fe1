// The two questions the reductions ask of a LocalFunction: its extremes over every assignment
// (MinMax, through the value table of value_table.h) and the best assignment of one parity
// (FindBestAssignment, by direct evaluation, 2^(count-1) candidates times the entries).
#include "local_function.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

#include "parity_tables.h"
#include "value_table.h"
#include "wrap.h"

namespace pbf {

// Entries whose mask reaches beyond `count` lie within no assignment and add nothing. Above 16
// variables (outside the contract, never reached from the reductions) the assignments are taken
// as 2^(count-16) blocks that each fit the table.
LocalFunction::Extremes LocalFunction::MinMax() const {
  if (count <= 0 || entries.empty()) return {constant, constant};
  const int32_t low = std::min(count, kMaxFreeVariables);
  const uint32_t low_mask = (1u << low) - 1;
  const uint64_t blocks = uint64_t{1} << (count - low);
  ValueTable values;
  Extremes result{max_start, min_start};
  for (uint64_t high = 0; high < blocks; ++high) {
    int32_t* table = values.Zeroed(low);
    table[0] = constant;
    for (const LocalEntry& entry : entries) {
      if (((entry.mask >> low) & ~static_cast<uint32_t>(high)) != 0) continue;
      int32_t& slot = table[entry.mask & low_mask];
      slot = WrapAdd(slot, entry.coef);
    }
    values.SumSubsetsAndWiden(low, result);
  }
  return result;
}

int32_t LocalFunction::FindBestAssignment(bool odd, const ParityTables& parity) const {
  assert(count >= 1 && parity.built_degree >= count);
  const std::vector<int32_t>& candidates = odd ? parity.odd : parity.even;
  const size_t n = size_t{1} << (count - 1);
  int32_t best = -1;
  int32_t best_value = max_start;
  for (size_t c = 0; c < n; ++c) {
    const uint32_t h = static_cast<uint32_t>(candidates[c]);
    int32_t value = constant;
    for (const LocalEntry& entry : entries) {
      if ((entry.mask & ~h) == 0) value = WrapAdd(value, entry.coef);
    }
    if (value > best_value) {
      best = candidates[c];
      best_value = value;
    }
  }
  return best;
}

}  // namespace pbf
