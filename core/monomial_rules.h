// The rules that rewrite a single monomial a·x(ids[0])·…·x(ids[d-1]), d >= 3, into a quadratic
// builder, with 64-bit coefficients (quadratize.h).
//
// Each rule's auxiliaries carry coefficients that are fixed multiples of a. Where a multiple would
// leave int32, a is split into parts that differ by at most one, each written with auxiliaries of
// its own (the minimum of a sum over disjoint auxiliaries is the sum of the minima), so a rule
// fails only when even a part of 1 would not fit or too few auxiliary ids are left; it then
// writes nothing and returns false. Terms over f's own variables (pairs, unary terms, the
// constant) are written once for the whole of a: their sums are checked when the builder finishes.
#pragma once

#include <cstdint>

#include "quadratic_builder.h"

namespace pbf {

// a < 0, one auxiliary w per part: a·w·(S - (d - 1)) with S = the sum over the d positions, so a
// repeated id counts as often as it occurs (all the rule needs is S in 0 … d). Submodular.
bool AddNegativeMonomial(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d);
// The same for ids known to be distinct (a monomial of the pool, or one with an auxiliary of its
// own added): the same terms, without the count of repeats.
bool AddNegativeMonomialOfDistinct(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d);

// a >= 0, ToQuadratic's rule: ⌊(d - 1)/2⌋ auxiliaries per part and a on every pair of positions,
// terms created in ToQuadratic's order; ids may repeat as above.
bool AddPositiveMonomialTermwise(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d);

// a > 0, ids distinct: ⌈log2 d⌉ - 1 auxiliaries per part (Boros, Crama and Rodríguez-Heck), or
// ToQuadratic's rule where those auxiliaries' coefficients (which grow like a·2^(2m - 1)) cannot
// fit.
bool AddPositiveMonomialFewest(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d);

}  // namespace pbf
