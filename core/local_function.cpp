// The two questions the reductions ask of a LocalFunction: its extremes over every assignment
// (MinMax, through the value table of value_table.h) and the best assignment of one parity
// (FindBestAssignment, by direct evaluation, 2^(count-1) candidates times the entries).
#include "local_function.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <type_traits>

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

// The candidates' sums are kept side by side and each entry added to all of them at once (the
// compiler turns the inner loop into vector additions), in blocks that fit the stack. Each sum
// receives the same entries in the same order as one candidate at a time would, and the
// candidates are compared in the same order, so the same first greatest one wins.
int32_t LocalFunction::FindBestAssignment(bool odd, const ParityTables& parity) const {
  assert(count >= 1 && parity.built_degree >= count);
  const std::vector<int32_t>& candidates = odd ? parity.odd : parity.even;
  const size_t n = size_t{1} << (count - 1);
  constexpr size_t kBlock = 32;
  uint32_t outside[kBlock];  // the bits outside each candidate
  uint32_t sums[kBlock];
  // A width known at compile time (every block when there are 32 candidates or more) lets the
  // inner loop unroll whole; with a width known only at run time it was up to 2.3 times slower.
  const auto add_entries = [&](auto width) {
    for (const LocalEntry& entry : entries) {
      const auto coef = static_cast<uint32_t>(entry.coef);
      for (size_t c = 0; c < width; ++c) sums[c] += (entry.mask & outside[c]) == 0 ? coef : 0;
    }
  };
  int32_t best = -1;
  int32_t best_value = max_start;
  for (size_t first = 0; first < n; first += kBlock) {
    const size_t block = std::min(kBlock, n - first);
    for (size_t c = 0; c < block; ++c) {
      outside[c] = ~static_cast<uint32_t>(candidates[first + c]);
      sums[c] = static_cast<uint32_t>(constant);
    }
    if (block == kBlock) {
      add_entries(std::integral_constant<size_t, kBlock>{});
    } else {
      add_entries(block);
    }
    for (size_t c = 0; c < block; ++c) {
      const auto value = static_cast<int32_t>(sums[c]);
      if (value > best_value) {
        best = candidates[first + c];
        best_value = value;
      }
    }
  }
  return best;
}

}  // namespace pbf
