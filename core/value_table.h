// The value enumeration shared by LocalFunction::MinMax and the exact search: all values of a
// function of up to 16 variables, computed in one scratch table.
//
// The value at an assignment y is the sum of the coefficients whose mask lies within y, so the
// whole table is the subset-sum transform of the table holding each coefficient at its own mask:
// j 2^(j-1) additions for j variables instead of entries x 2^j tests. Sums wrap modulo 2^32, so
// the order of addition cannot change a single value.
//
// The table belongs to its user (one per reduction call), so that threads share nothing; it
// grows to the largest size asked for and is then reused without allocation.
#pragma once

#include <cstdint>
#include <vector>

#include "local_function.h"

namespace pbf {

class ValueTable {
 public:
  // The first 2^bits entries, set to 0 (bits <= kMaxFreeVariables).
  int32_t* Zeroed(int32_t bits);

  // Turns the first 2^bits entries, holding one summand per mask, into the sum over the submasks
  // of every index, and widens `extremes` to the largest and smallest of those sums.
  void SumSubsetsAndWiden(int32_t bits, LocalFunction::Extremes& extremes);

 private:
  std::vector<int32_t> values_;
};

}  // namespace pbf
