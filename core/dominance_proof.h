// A cheap proof that the search for a dominated configuration (dominated_configuration.cpp) will
// find nothing, so that it can return -1 without enumerating every restricted function.
#pragma once

#include <cstdint>

#include "local_function.h"

namespace pbf {

// Where the term T of degree `degree` sits in its neighbourhood L: bit_of[k] is the bit of T's
// k-th variable in L's masks (set by configuration bit degree-1-k), term_mask their union and
// `outside` the bits beyond L's variables.
struct TermLayout {
  const uint32_t* bit_of;
  int32_t degree;
  uint32_t term_mask;
  uint32_t outside;

  // The entries that configuration i kills: those needing a variable of T that i sets to 0, and
  // those reaching beyond L's variables.
  uint32_t DeadIn(int32_t i) const {
    uint32_t ones = 0;
    for (int32_t k = 0; k < degree; ++k) {
      if ((i >> (degree - 1 - k)) & 1) ones |= bit_of[k];
    }
    return (term_mask & ~ones) | outside;
  }
};

// Whether |constant| + sum |coef| + amount fits int32 (amount >= 0), so that no value or bound of
// the search can wrap.
bool SumsCannotWrap(const LocalFunction& local, int32_t amount);

// True only when the search with this target parity (odd when set) and amount would return -1:
// neither of its tests passes after all configurations. False when that cannot be shown cheaply,
// which proves nothing. Requires SumsCannotWrap(local, amount).
bool NoneCanPass(const LocalFunction& local, const TermLayout& term, bool odd, int32_t amount);

}  // namespace pbf
