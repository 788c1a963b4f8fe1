// The value enumeration shared by LocalFunction::MinMax and the exact search: all values of a
// function of up to 16 variables, computed in one scratch table.
//
// The value at an assignment y is the sum of the coefficients whose mask lies within y, so the
// whole table is the subset-sum (zeta) transform of the table holding each coefficient at its own
// mask: j 2^(j-1) additions for j variables instead of entries x 2^j tests. Sums wrap modulo 2^32,
// so the order of addition cannot change a single value.
//
// The table is one file-scope array of 2^kMaxFreeVariables int32 (see pbf.h on threads).
#pragma once

#include <cstdint>

#include "local_function.h"

namespace pbf {

// The scratch table, 2^kMaxFreeVariables entries.
int32_t* ValueTable();

// Turns ValueTable()[0 .. 2^bits), holding one summand per mask, into the sum over the submasks
// of every index, and widens `extremes` to the largest and smallest of those sums.
// bits <= kMaxFreeVariables.
void SumSubsetsAndWiden(int32_t bits, LocalFunction::Extremes& extremes);

}  // namespace pbf
