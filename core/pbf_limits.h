// The core's size limits and the int32 extremes, each with the reason for its value.
#pragma once

#include <cstdint>
#include <limits>

namespace pbf {

// The int32 extremes: where running minima and maxima start.
inline constexpr int32_t kLargest = std::numeric_limits<int32_t>::max();
inline constexpr int32_t kSmallest = std::numeric_limits<int32_t>::min();

// A LocalFunction's masks are uint32_t, one bit per local variable.
inline constexpr int32_t kMaxLocalVariables = 32;

// The exact search enumerates each restricted function in a value table of 2^16 int32 (256 KiB,
// within a core's L2), so a neighbourhood may add at most 16 variables to its term.
inline constexpr int32_t kMaxFreeVariables = 16;

// The exact reduction searches terms up to degree 16: with at most 16 free variables more, a
// neighbourhood then always fits kMaxLocalVariables, and 2^16 configurations stay cheap to walk.
inline constexpr int32_t kMaxExactDegree = 16;

// A clique table has 2^n values, a count that must fit int32.
inline constexpr int32_t kMaxCliqueSize = 30;

// The approximate reduction's candidates, parity lists and indicator masks are int32 numbers
// below 2^d, so it reduces terms up to degree 30 (the parity lists are built up to that too).
inline constexpr int32_t kMaxApproxDegree = 30;

}  // namespace pbf
